#pragma once

// Replaces one imported function of a loaded module by patching the module's
// import address table, and puts the original back when destroyed. Lets a test
// watch the monitor DLL's calls into a system DLL (for instance winspool) that
// leave no trace the test could observe otherwise.

#include <windows.h>

namespace zeltest {

class ScopedImportHook {
public:
    // `dll` is matched without regard to case; throws std::runtime_error when
    // the module does not import `function` from it.
    ScopedImportHook(HMODULE module, const char* dll, const char* function, void* replacement);
    ~ScopedImportHook();
    ScopedImportHook(const ScopedImportHook&) = delete;
    ScopedImportHook& operator=(const ScopedImportHook&) = delete;

    void* Original() const { return original_; }

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

} // namespace zeltest
