#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The body of a sealed WinRM message on plain HTTP (MS-WSMV 2.2.9.1,
// "Encrypted Message Types"): a MIME multipart whose first part names the
// original content type and its length, and whose second part is the
// signature length (32-bit little-endian), the signature and the sealed
// bytes. The framing only; the sealing itself is the GSSAPI context's.
namespace tavo::winrm::sealing {

inline constexpr std::string_view kProtocol = "application/HTTP-SPNEGO-session-encrypted";
inline constexpr std::string_view kBoundary = "Encrypted Boundary";
// The Content-Type header of a sealed request or reply.
std::string contentType();

// One sealed message as the body carries it; the views point into the
// parsed body and live as long as it does.
struct Part {
    std::uint64_t declaredLength = 0;  // Length= of the original content
    std::string_view signature;
    std::string_view sealed;
};

// The whole body for one sealed message of `plainLength` bytes.
std::string frame(std::size_t plainLength, std::string_view signature, std::string_view sealed);
// The same body in three pieces, for a sender that writes a large sealed
// message where it lies: what goes before the signature, the signature and
// the sealed bytes as one run, and what goes after.
std::string frameHead(std::size_t plainLength, std::size_t signatureLength);
std::string_view frameTail();

// True when a reply's Content-Type says it is sealed this way.
bool isSealed(std::string_view contentTypeHeader);

// The parts of a sealed body; throws Malformed when it is not one.
struct Malformed {
    std::string what;
};
std::vector<Part> parse(std::string_view body, std::string_view boundary = kBoundary);

// The boundary a Content-Type names (its boundary="..." parameter), or the
// usual one when it names none.
std::string boundaryOf(std::string_view contentTypeHeader);

}  // namespace tavo::winrm::sealing
