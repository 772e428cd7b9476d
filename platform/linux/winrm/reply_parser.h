#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Replies of a WQL enumeration read with libxml2's SAX2 interface: no tree
// is built, so a page of thousands of instances costs one pass over its text.
namespace tavo::winrm {

// How a property came in the XML; its type comes from the class schema.
enum class ValueForm {
    Text,      // element text (an empty element is an empty string)
    Nil,       // xsi:nil="true"
    Datetime,  // <cim:Datetime> xs:dateTime
    Interval,  // <cim:Interval> xs:duration
    Date,      // <cim:Date> xs:date
    Time,      // <cim:Time> xs:time
    Complex    // an embedded object or reference: no text form
};

struct ReplyProperty {
    std::string name;
    std::string text;
    ValueForm form = ValueForm::Text;
};

struct ReplyItem {
    // The item element's local name: the instance's own class, which may be
    // a subclass of the one queried. Empty for a projection (w:XmlFragment).
    std::string className;
    // In document order; an array repeats its name.
    std::vector<ReplyProperty> properties;
};

struct SoapFault {
    std::string code;     // "s:Sender"
    std::string subcode;  // "w:AccessDenied", "a:DestinationUnreachable" ...
    std::string reason;   // s:Reason/s:Text
    // Each WSManFault's Code from the outermost in, as numbers.
    std::vector<std::uint32_t> codes;
    // The innermost f:Message text that says something.
    std::string message;
    std::string machine;
    // s:Detail/w:FaultDetail, a URI that narrows the subcode.
    std::string detail;
    // WMI's own error in its CIM form (MSFT_WmiError's error_Code and
    // Message), which newer hosts send beside or instead of the nested
    // WSManFault; 0 and empty when the fault carries none.
    std::uint32_t wmiErrorCode = 0;
    std::string wmiErrorMessage;
};

struct EnumerationReply {
    std::string action;     // a:Action of the reply
    std::string relatesTo;  // a:RelatesTo: the MessageID of the request answered
    std::vector<ReplyItem> items;
    std::string context;  // empty when the server sent none
    bool endOfSequence = false;
    std::optional<SoapFault> fault;
};

// Larger replies are refused before parsing; we ask for 512,000 octets
// (w:MaxEnvelopeSize) and a server that ignores it by a factor of thirty is
// not one to trust with memory.
inline constexpr std::size_t kMaxReplyBytes = 16u << 20;
// No honest reply nests deeper than a dozen levels.
inline constexpr int kMaxReplyDepth = 48;
// Instances carry no attributes and an envelope's tags a dozen namespace
// declarations at most; libxml2 checks a tag's attributes against each
// other in quadratic time, so a tag with more is refused before it sees it.
inline constexpr int kMaxAttributesPerTag = 64;
// The reply goes to libxml2 in slices of this size, with STOP and the
// deadline checked between them.
inline constexpr std::size_t kParseSlice = 256 * 1024;

// Reads an EnumerateResponse, a PullResponse, a ReleaseResponse or a fault.
// A reply that is not well-formed XML, holds a document type declaration,
// nests deeper than kMaxReplyDepth, has a tag with more than
// kMaxAttributesPerTag attributes or is larger than kMaxReplyBytes throws
// tavo::Error naming what is wrong with it. So does passing `until` (timed
// out) or STOP on the calling thread (cancelled).
EnumerationReply parseReply(std::string_view xml, std::chrono::steady_clock::time_point until =
                                                      std::chrono::steady_clock::time_point::max());

}  // namespace tavo::winrm
