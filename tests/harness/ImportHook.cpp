#include "harness/ImportHook.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace zeltest {

namespace {

void WriteSlot(void** slot, void* value) {
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) {
        throw std::runtime_error("cannot unprotect an import slot");
    }
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
}

} // namespace

ScopedImportHook::ScopedImportHook(HMODULE module, const char* dll, const char* function,
                                   void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; imports.VirtualAddress && descriptor->Name; ++descriptor) {
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) {
            continue;
        }
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                slot_ = reinterpret_cast<void**>(&slots->u1.Function);
                original_ = *slot_;
                WriteSlot(slot_, replacement);
                return;
            }
        }
    }
    throw std::runtime_error(std::string("module does not import ") + function + " from " + dll);
}

ScopedImportHook::~ScopedImportHook() {
    if (slot_) {
        WriteSlot(slot_, original_);
    }
}

} // namespace zeltest
