// What the Windows file services share: names between the programs' narrow
// text (the ANSI code page, UTF-8 by the programs' manifest) and the wide
// calls, failure reasons in the system's words, and identities. Internal to
// the platform layer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace tilvex::platform::windows {

// Set the reason (when wanted) and return false.
bool fail(std::string* reason, const char* text);
// The system's words for a GetLastError() code.
bool fail_code(std::string* reason, DWORD code);
inline bool fail_last(std::string* reason) { return fail_code(reason, ::GetLastError()); }

// Narrow (ANSI code page) to wide and back; false when the text does not convert.
bool widen(const std::string& text, std::wstring* wide);
std::string narrow(const std::wstring& wide);

inline HANDLE handle_of(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }
inline std::intptr_t native_of(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

void close_quietly(std::intptr_t& native);

// Volume serial number and file index of an open file.
bool identity_of(HANDLE file, FileIdentity* identity);

// The name with symbolic links (and other name-surrogate reparse points)
// followed, when the name leads to one; otherwise the name itself. A name that
// does not exist is its own resolution.
bool resolve_links(const std::wstring& name, std::wstring* resolved, std::string* reason);

}  // namespace tilvex::platform::windows
