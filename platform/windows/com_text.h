#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "grid/error.h"

namespace tavo::winwmi {

std::string toUtf8(const wchar_t* text, int length = -1);
std::wstring toWide(const std::string& text);

// The description of an HRESULT: WMI's own texts for its codes, else the
// system's message table.
std::string describeHResult(HRESULT hr);

// A tavo::Error for a failed call, naming what was being done.
[[noreturn]] void throwHResult(HRESULT hr, const std::string& what);

}  // namespace tavo::winwmi
