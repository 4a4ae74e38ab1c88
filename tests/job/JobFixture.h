#pragma once

// What the job tests share: a port of the monitor opened through its table for
// each test, jobs started on it as the spooler starts them, their PS files
// removed afterwards, and the checks on data, files and logs.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "harness/PortSupport.h"
#include "harness/TestRegistry.h"
#include "monitor/PortContext.h"

namespace zeltest {

inline Brambleworth::Zel::PortMon::PortContext& Port(HANDLE handle) {
    return *static_cast<Brambleworth::Zel::PortMon::PortContext*>(handle);
}

// Bytes with plenty of the values a text-mode file would change or stop at.
inline std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) {
        const unsigned r = random();
        c = (r & 3) == 0 ? "\0\n\r\x1a\xff"[(r >> 2) % 5] : static_cast<char>(r >> 8);
    }
    return data;
}

inline BOOL Write(HANDLE port, const std::string& data, DWORD& written) {
    return Table().pfnWritePort(port, reinterpret_cast<LPBYTE>(const_cast<char*>(data.data())),
                                static_cast<DWORD>(data.size()), &written);
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The file is closed when it can be opened for exclusive use.
inline bool IsClosedOnDisk(const std::wstring& path) {
    return Brambleworth::Zel::PortMon::KernelHandle(CreateFileW(path.c_str(), GENERIC_READ, 0,
                                                                nullptr, OPEN_EXISTING,
                                                                FILE_ATTRIBUTE_NORMAL, nullptr))
        .IsOpen();
}

// The job key's "ErrorCode"; kPoison when it has none.
inline DWORD ErrorCode(const ScopedJobKey& key) {
    DWORD code = kPoison;
    ReadDword(HKEY_CURRENT_USER, key.Path(), L"ErrorCode", code);
    return code;
}

class JobTest : public ::testing::Test {
protected:
    explicit JobTest(const wchar_t* port) : name_(port), ports_({port}) {}
    void SetUp() override {
        DeletePortLog(name_);
        Registry().Clear();
        port_ = std::make_unique<OpenedPort>(name_);
    }
    void TearDown() override {
        port_.reset();
        for (const std::wstring& file : files_) {
            DeleteFileW(file.c_str());
        }
        DeletePortLog(name_);
    }
    static RecordingRegistry& Registry() { return SpoolerHarness::Instance().Registry(); }
    HANDLE Handle() const { return port_->Get(); }

    // StartDocPort with the document in a record of `level` (none without
    // `withInfo`); the PS file is remembered for clean-up.
    BOOL Start(const wchar_t* document, const wchar_t* printer = L"P1", DWORD jobId = 7,
               DWORD level = 1, bool withInfo = true) {
        DOC_INFO_2W info{const_cast<LPWSTR>(document), nullptr, nullptr, 0, 0};
        const BOOL result =
            Table().pfnStartDocPort(Handle(), const_cast<LPWSTR>(printer), jobId, level,
                                    withInfo ? reinterpret_cast<LPBYTE>(&info) : nullptr);
        files_.push_back(Port(Handle()).psFilePath);
        return result;
    }

    std::wstring name_;
    ScopedPorts ports_;
    std::unique_ptr<OpenedPort> port_;
    std::vector<std::wstring> files_;
};

} // namespace zeltest
