#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tavo {

// The one failure type of the core: a number the user can look up and a
// description a person can act on. Management failures use the service's own
// HRESULT-style codes, grid failures the list view's error numbers.
class Error : public std::runtime_error {
  public:
    Error(std::uint32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}

    std::uint32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

    // "0x80041010" for codes with the high bit set, decimal otherwise.
    std::string numberText() const;

  private:
    std::uint32_t number_;
    std::string description_;
};

namespace errc {
// Management service codes (the values WMI itself reports).
inline constexpr std::uint32_t kFailed = 0x80041001;
inline constexpr std::uint32_t kNotFound = 0x80041002;
inline constexpr std::uint32_t kInvalidParameter = 0x80041008;
inline constexpr std::uint32_t kInvalidClass = 0x80041010;
inline constexpr std::uint32_t kInvalidQuery = 0x80041017;
inline constexpr std::uint32_t kTimedOut = 0x80043001;
inline constexpr std::uint32_t kCallCancelled = 0x80041032;  // a stopped request
inline constexpr std::uint32_t kAccessDenied = 0x80070005;
inline constexpr std::uint32_t kInvalidSyntax = 0x800401E4;  // MK_E_SYNTAX: bad moniker
inline constexpr std::uint32_t kServerUnavailable = 0x800706BA;
// Conversion of a null or an array to text (the scripting "type mismatch").
inline constexpr std::uint32_t kTypeMismatch = 13;
// Grid failures, numbered as the list view control numbers them.
inline constexpr std::uint32_t kIndexOutOfBounds = 35600;
inline constexpr std::uint32_t kKeyNotUnique = 35602;
// File failures of an export, numbered as the file statements number them.
inline constexpr std::uint32_t kDiskFull = 61;
inline constexpr std::uint32_t kPermissionDenied = 70;
inline constexpr std::uint32_t kFileAccess = 75;
inline constexpr std::uint32_t kPathNotFound = 76;
}  // namespace errc

}  // namespace tavo
