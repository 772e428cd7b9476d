#include "platform/linux/winrm/reply_parser.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/linux/winrm/wsman_names.h"
#include "support/text.h"

namespace tavo::winrm {

namespace {

// What an element is to the reader, decided from its parent's role, its
// namespace and its local name: never from the local name alone, since a
// property may be called EndOfSequence or Items.
enum class Role : unsigned char {
    Ignored,
    Envelope,
    Header,
    Action,
    RelatesTo,
    Body,
    Response,  // EnumerateResponse, PullResponse, ReleaseResponse
    Context,
    EndOfSequence,
    Items,
    ItemWrapper,  // w:Item, around an object and its reference
    Item,
    Property,
    PropertyValue,  // cim:Datetime and its siblings inside a property
    Fault,
    FaultCode,
    FaultCodeValue,
    FaultSubcode,
    FaultSubcodeValue,
    FaultReason,
    FaultReasonText,
    FaultDetail,
    WsmanFault,
    WsmanFaultMessage,
    FaultOther,  // ProviderFault, ExtendedError: searched for faults within
    FaultDetailUri,
    WmiError,  // MSFT_WmiError, WMI's error in its CIM form
    WmiErrorCode,
    WmiErrorMessage,
};

// MSFT_WmiError's namespace as WinRM writes the class's resource URI.
constexpr const char* kWmiErrorNs =
    "http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/MSFT_WmiError";

bool is(const xmlChar* uri, const char* expected) {
    return uri && std::strcmp(reinterpret_cast<const char*>(uri), expected) == 0;
}
bool named(const xmlChar* local, const char* expected) {
    return std::strcmp(reinterpret_cast<const char*>(local), expected) == 0;
}

struct Reader {
    xmlParserCtxtPtr ctxt = nullptr;
    EnumerationReply reply;
    std::string error;  // our own refusal, kept apart from libxml2's message
    std::string xmlError;
    std::vector<Role> stack;
    std::string* sink = nullptr;  // where character data goes, if anywhere
    ReplyItem* item = nullptr;
    ReplyProperty* property = nullptr;
    int wsmanFaultDepth = 0;
    std::string pendingMessage;  // of the WSManFault being read
    std::size_t messageDepth = 0;
    std::string wmiErrorCode;  // MSFT_WmiError's error_Code as text
    // The item's own namespace: only its elements are properties. An
    // instance may end in its address (a cim:Location reference), and a
    // printer has a Location property of its own.
    std::string itemUri;

    void refuse(std::string why) {
        if (error.empty()) error = std::move(why);
        xmlStopParser(ctxt);
    }

    Role childRole(Role parent, const xmlChar* local, const xmlChar* uri) const {
        switch (parent) {
            case Role::Envelope:
                if (is(uri, ns::kSoap) && named(local, "Header")) return Role::Header;
                if (is(uri, ns::kSoap) && named(local, "Body")) return Role::Body;
                return Role::Ignored;
            case Role::Header:
                if (is(uri, ns::kAddressing) && named(local, "Action")) return Role::Action;
                if (is(uri, ns::kAddressing) && named(local, "RelatesTo")) return Role::RelatesTo;
                return Role::Ignored;
            case Role::Body:
                if (is(uri, ns::kEnumeration) &&
                    (named(local, "EnumerateResponse") || named(local, "PullResponse") ||
                     named(local, "ReleaseResponse")))
                    return Role::Response;
                if (is(uri, ns::kSoap) && named(local, "Fault")) return Role::Fault;
                return Role::Ignored;
            case Role::Response:
                if (is(uri, ns::kEnumeration) && named(local, "EnumerationContext"))
                    return Role::Context;
                // The optimized EnumerateResponse ends in the wsman namespace,
                // a PullResponse in the enumeration one (DSP0226 8.2.3).
                if ((is(uri, ns::kWsman) || is(uri, ns::kEnumeration)) &&
                    named(local, "EndOfSequence"))
                    return Role::EndOfSequence;
                if ((is(uri, ns::kWsman) || is(uri, ns::kEnumeration)) && named(local, "Items"))
                    return Role::Items;
                return Role::Ignored;
            case Role::Items:
                if (is(uri, ns::kWsman) && named(local, "Item")) return Role::ItemWrapper;
                return Role::Item;
            case Role::ItemWrapper:
                if (is(uri, ns::kAddressing)) return Role::Ignored;  // the reference
                return Role::Item;
            case Role::Item:
                // A class's instance: elements of the class's namespace. A
                // projection's fragment: elements of no namespace.
                if (uri ? itemUri == reinterpret_cast<const char*>(uri) : itemUri.empty())
                    return Role::Property;
                return Role::Ignored;
            case Role::Property:
                return Role::PropertyValue;
            case Role::Fault:
                if (!is(uri, ns::kSoap)) return Role::Ignored;
                if (named(local, "Code")) return Role::FaultCode;
                if (named(local, "Reason")) return Role::FaultReason;
                if (named(local, "Detail")) return Role::FaultDetail;
                return Role::Ignored;
            case Role::FaultCode:
                if (is(uri, ns::kSoap) && named(local, "Value")) return Role::FaultCodeValue;
                if (is(uri, ns::kSoap) && named(local, "Subcode")) return Role::FaultSubcode;
                return Role::Ignored;
            case Role::FaultSubcode:
                if (is(uri, ns::kSoap) && named(local, "Value")) return Role::FaultSubcodeValue;
                return Role::Ignored;
            case Role::FaultReason:
                if (is(uri, ns::kSoap) && named(local, "Text")) return Role::FaultReasonText;
                return Role::Ignored;
            case Role::FaultDetail:
            case Role::WsmanFault:
            case Role::WsmanFaultMessage:
            case Role::FaultOther:
                // WMI's own fault sits inside the WinRM one's message, as a
                // provider fault with a WSManFault of its own.
                if (is(uri, ns::kWsmanFault) && named(local, "WSManFault")) return Role::WsmanFault;
                if (is(uri, ns::kWsmanFault) && named(local, "Message"))
                    return Role::WsmanFaultMessage;
                if (parent == Role::FaultDetail && is(uri, ns::kWsman) &&
                    named(local, "FaultDetail"))
                    return Role::FaultDetailUri;
                if (is(uri, kWmiErrorNs) && named(local, "MSFT_WmiError")) return Role::WmiError;
                // ProviderFault and the like: look inside for more faults.
                return Role::FaultOther;
            case Role::WmiError:
                if (!is(uri, kWmiErrorNs)) return Role::Ignored;
                if (named(local, "error_Code")) return Role::WmiErrorCode;
                if (named(local, "Message")) return Role::WmiErrorMessage;
                return Role::Ignored;
            default:
                return Role::Ignored;
        }
    }

    static std::string attribute(int count, const xmlChar** attrs, const char* local,
                                 const char* uri) {
        for (int i = 0; i < count; ++i) {
            const xmlChar** a = attrs + 5 * i;
            if (!named(a[0], local)) continue;
            if (uri ? !is(a[2], uri) : a[2] != nullptr) continue;
            return std::string(reinterpret_cast<const char*>(a[3]),
                               static_cast<std::size_t>(a[4] - a[3]));
        }
        return {};
    }

    void start(const xmlChar* local, const xmlChar* uri, int nbAttributes,
               const xmlChar** attributes) {
        if (static_cast<int>(stack.size()) >= kMaxReplyDepth) {
            refuse("it nests elements deeper than " + std::to_string(kMaxReplyDepth) + " levels");
            return;
        }
        Role role;
        if (stack.empty()) {
            if (!is(uri, ns::kSoap) || !named(local, "Envelope")) {
                refuse("it is not a SOAP 1.2 envelope");
                return;
            }
            role = Role::Envelope;
        } else {
            role = childRole(stack.back(), local, uri);
        }
        stack.push_back(role);
        sink = nullptr;
        switch (role) {
            case Role::Action:
                sink = &reply.action;
                break;
            case Role::RelatesTo:
                sink = &reply.relatesTo;
                break;
            case Role::WmiErrorCode:
                wmiErrorCode.clear();
                sink = &wmiErrorCode;
                break;
            case Role::WmiErrorMessage:
                reply.fault->wmiErrorMessage.clear();
                sink = &reply.fault->wmiErrorMessage;
                break;
            case Role::Context:
                sink = &reply.context;
                break;
            case Role::EndOfSequence:
                reply.endOfSequence = true;
                break;
            case Role::Fault:
                reply.fault.emplace();
                break;
            case Role::FaultCodeValue:
                sink = &reply.fault->code;
                break;
            case Role::FaultSubcodeValue:
                sink = &reply.fault->subcode;
                break;
            case Role::FaultReasonText:
                sink = &reply.fault->reason;
                break;
            case Role::FaultDetailUri:
                sink = &reply.fault->detail;
                break;
            case Role::WsmanFault: {
                const std::string code = attribute(nbAttributes, attributes, "Code", nullptr);
                if (auto n = text::wholeNumber<std::uint32_t>(code))
                    reply.fault->codes.push_back(*n);
                const std::string machine = attribute(nbAttributes, attributes, "Machine", nullptr);
                if (!machine.empty()) reply.fault->machine = machine;
                break;
            }
            case Role::WsmanFaultMessage:
                pendingMessage.clear();
                sink = &pendingMessage;
                break;
            case Role::Item: {
                item = &reply.items.emplace_back();
                // A projection comes as a fragment with no class of its own.
                itemUri.clear();
                if (!(is(uri, ns::kWsman) && named(local, "XmlFragment"))) {
                    item->className = reinterpret_cast<const char*>(local);
                    if (uri) itemUri = reinterpret_cast<const char*>(uri);
                }
                break;
            }
            case Role::Property: {
                property = &item->properties.emplace_back();
                property->name = reinterpret_cast<const char*>(local);
                const std::string nil = attribute(nbAttributes, attributes, "nil", ns::kXsi);
                if (nil == "true" || nil == "1") {
                    property->form = ValueForm::Nil;
                } else {
                    sink = &property->text;
                }
                break;
            }
            case Role::PropertyValue: {
                if (property->form == ValueForm::Nil) break;
                // A projection drops the namespace of the datetime too.
                const bool cim = uri == nullptr || is(uri, ns::kCim);
                ValueForm form = ValueForm::Complex;
                if (cim && named(local, "Datetime")) form = ValueForm::Datetime;
                if (cim && named(local, "CIM_DateTime")) form = ValueForm::Datetime;
                if (cim && named(local, "Interval")) form = ValueForm::Interval;
                if (cim && named(local, "Date")) form = ValueForm::Date;
                if (cim && named(local, "Time")) form = ValueForm::Time;
                // The first child decides; an embedded object has many.
                if (property->form == ValueForm::Text)
                    property->form = form;
                else
                    property->form = ValueForm::Complex;
                property->text.clear();
                if (property->form != ValueForm::Complex) sink = &property->text;
                break;
            }
            default:
                break;
        }
    }

    void end() {
        if (stack.empty()) return;
        const Role role = stack.back();
        stack.pop_back();
        sink = nullptr;
        switch (role) {
            case Role::Property:
                if (property->form == ValueForm::Complex) property->text.clear();
                property = nullptr;
                break;
            case Role::PropertyValue:
                // Whitespace after the datetime element is not part of it.
                break;
            case Role::Item:
                item = nullptr;
                break;
            case Role::WmiErrorCode: {
                if (auto n = text::wholeNumber<std::uint32_t>(text::trim(wmiErrorCode)))
                    reply.fault->wmiErrorCode = *n;
                break;
            }
            case Role::WsmanFaultMessage: {
                // The deepest message with text is the provider's own words
                // (WMI's inside WinRM's); the outer one only wraps it.
                const std::string_view message = text::trim(pendingMessage);
                if (!message.empty() && stack.size() + 1 >= messageDepth) {
                    reply.fault->message = std::string(message);
                    messageDepth = stack.size() + 1;
                }
                pendingMessage.clear();
                break;
            }
            default:
                break;
        }
        // Text of a property after a nested element (whitespace) is not
        // wanted, and text of an element ends with it.
    }
};

Reader* readerOf(void* ctx) {
    // With SAX2 handlers the user data is the parser context, whose
    // _private carries the reader.
    return static_cast<Reader*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

void onStart(void* ctx, const xmlChar* local, const xmlChar*, const xmlChar* uri, int,
             const xmlChar**, int nbAttributes, int, const xmlChar** attributes) {
    Reader* r = readerOf(ctx);
    if (!r->error.empty()) return;
    r->start(local, uri, nbAttributes, attributes);
}

void onEnd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    Reader* r = readerOf(ctx);
    if (!r->error.empty()) return;
    r->end();
}

void onCharacters(void* ctx, const xmlChar* ch, int len) {
    Reader* r = readerOf(ctx);
    if (r->sink) r->sink->append(reinterpret_cast<const char*>(ch), static_cast<std::size_t>(len));
}

// SOAP forbids a document type declaration (SOAP 1.2 messaging framework): refusing
// it outright leaves no room for entity expansion or external loading.
void onInternalSubset(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    readerOf(ctx)->refuse("it holds a document type declaration, which SOAP forbids");
}

xmlEntityPtr onGetEntity(void*, const xmlChar*) {
    return nullptr;
}

void onError(void* ctx, xmlErrorPtr e) {
    Reader* r = readerOf(ctx);
    if (!r->xmlError.empty() || !e) return;
    std::string text = e->message ? e->message : "unknown error";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    r->xmlError = "line " + std::to_string(e->line) + ": " + text;
}

// The most attributes any start tag of `xml` has, up to the first tag over
// `limit`; found with a byte scan that knows comments, CDATA sections,
// processing instructions and quoted values, so that none of them count.
// Linear, and run before libxml2 sees the reply.
int mostAttributes(std::string_view xml, int limit) {
    int most = 0;
    std::size_t at = 0;
    auto skipPast = [&](std::string_view end) {
        const auto found = xml.find(end, at);
        at = found == std::string_view::npos ? xml.size() : found + end.size();
    };
    while (at < xml.size()) {
        const auto lt = xml.find('<', at);
        if (lt == std::string_view::npos) break;
        at = lt + 1;
        const std::string_view rest = xml.substr(at);
        if (rest.starts_with("!--")) {
            skipPast("-->");
            continue;
        }
        if (rest.starts_with("![CDATA[")) {
            skipPast("]]>");
            continue;
        }
        if (rest.starts_with("?")) {
            skipPast("?>");
            continue;
        }
        const bool endTag = rest.starts_with("/") || rest.starts_with("!");
        int count = 0;
        char quote = 0;
        for (; at < xml.size(); ++at) {
            const char c = xml[at];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '=') {
                ++count;
            } else if (c == '>') {
                ++at;
                break;
            }
        }
        if (!endTag && count > most) {
            most = count;
            if (most > limit) return most;
        }
    }
    return most;
}

}  // namespace

EnumerationReply parseReply(std::string_view xml, std::chrono::steady_clock::time_point until) {
    if (xml.size() > kMaxReplyBytes) {
        throw Error(errc::kFailed, "The WinRM service sent a reply of " +
                                       std::to_string(xml.size()) + " bytes, more than the " +
                                       std::to_string(kMaxReplyBytes) + " Tavo accepts");
    }
    if (xml.empty()) throw Error(errc::kFailed, "The WinRM service sent an empty reply");
    if (mostAttributes(xml, kMaxAttributesPerTag) > kMaxAttributesPerTag)
        throw Error(errc::kFailed,
                    "The WinRM service sent a reply Tavo refuses: a tag in it has "
                    "more than " +
                        std::to_string(kMaxAttributesPerTag) + " attributes");

    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = onStart;
    sax.endElementNs = onEnd;
    sax.characters = onCharacters;
    sax.cdataBlock = onCharacters;
    sax.ignorableWhitespace = onCharacters;
    sax.internalSubset = onInternalSubset;
    sax.externalSubset = onInternalSubset;
    sax.getEntity = onGetEntity;
    sax.getParameterEntity = onGetEntity;
    sax.serror = onError;

    Reader reader;
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
    if (!ctxt) throw Error(errc::kFailed, "Cannot start the XML reader");
    ctxt->_private = &reader;
    ctxt->userData = ctxt;
    reader.ctxt = ctxt;
    // No network, no DTD loading, no entity substitution (the defaults,
    // stated so that nobody turns them on by accident).
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOCDATA);

    // In slices, so that STOP and the deadline are heard while a large
    // reply is read; libxml2 takes an int length, which a slice fits.
    const std::stop_token stop = cycle::currentStopToken();
    int rc = 0;
    bool stopped = false;
    bool late = false;
    for (std::size_t at = 0; at < xml.size() && rc == 0 && reader.error.empty();) {
        if (stop.stop_requested()) {
            stopped = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= until) {
            late = true;
            break;
        }
        const std::size_t n = std::min(kParseSlice, xml.size() - at);
        const bool last = at + n == xml.size();
        rc = xmlParseChunk(ctxt, xml.data() + at, static_cast<int>(n), last ? 1 : 0);
        at += n;
    }
    const bool wellFormed = ctxt->wellFormed != 0;
    xmlFreeParserCtxt(ctxt);

    if (stopped) throw Error(errc::kCallCancelled, "Reading the WinRM reply was stopped");
    if (late)
        throw Error(errc::kTimedOut, "The WinRM service sent a reply Tavo could not read in time");

    if (!reader.error.empty())
        throw Error(errc::kFailed, "The WinRM service sent a reply Tavo refuses: " + reader.error);
    if (rc != 0 || !wellFormed) {
        throw Error(errc::kFailed,
                    "The WinRM service sent a reply that is not well-formed XML" +
                        (reader.xmlError.empty() ? std::string() : " (" + reader.xmlError + ")"));
    }
    if (!reader.stack.empty())
        throw Error(errc::kFailed, "The WinRM service sent a reply that ends too early");
    auto trim = [](std::string& s) { s = std::string(text::trim(s)); };
    trim(reader.reply.action);
    trim(reader.reply.relatesTo);
    trim(reader.reply.context);
    if (reader.reply.fault) {
        trim(reader.reply.fault->code);
        trim(reader.reply.fault->subcode);
        trim(reader.reply.fault->reason);
        trim(reader.reply.fault->detail);
        trim(reader.reply.fault->wmiErrorMessage);
    }
    return std::move(reader.reply);
}

}  // namespace tavo::winrm
