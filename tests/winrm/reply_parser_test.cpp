#include "platform/linux/winrm/reply_parser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "grid/error.h"
#include "platform/linux/winrm/faults.h"
#include "winrm/fixture_text.h"

namespace tavo::winrm {
namespace {

using testing::fixtureReply;

const ReplyProperty* find(const ReplyItem& item, const std::string& name, int nth = 0) {
    for (const auto& p : item.properties)
        if (p.name == name && nth-- == 0) return &p;
    return nullptr;
}

struct PageShape {
    const char* file;
    std::size_t items;
    bool end;
    const char* context;  // "" when the page carries none
};

void PrintTo(const PageShape& shape, std::ostream* os) {
    *os << shape.file;
}

class PageShapes : public ::testing::TestWithParam<PageShape> {};

TEST_P(PageShapes, ItemsContextAndEnd) {
    const PageShape& shape = GetParam();
    const EnumerationReply r = parseReply(fixtureReply(shape.file));
    EXPECT_EQ(r.items.size(), shape.items);
    EXPECT_EQ(r.endOfSequence, shape.end);
    EXPECT_EQ(r.context, shape.context);
    EXPECT_FALSE(r.fault);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PageShapes,
    ::testing::Values(
        // One optimized page: the end in the wsman namespace, an empty context.
        PageShape{"Win32_LogicalDisk/page-1.xml", 3, true, ""},
        // A first page with a context and no end; then a Pull that ends it.
        PageShape{"Win32_NetworkAdapterConfiguration/page-1.xml", 1, false, "uuid:ctx-1"},
        PageShape{"Win32_NetworkAdapterConfiguration/page-2.xml", 1, true, ""},
        // Middle pages of a walk the server cut into pieces of its choosing.
        PageShape{"Win32_Service/page-1.xml", 1, false, "uuid:ctx-1"},
        PageShape{"Win32_Service/page-2.xml", 3, false, "uuid:ctx-1"},
        // A property called EndOfSequence inside an item is a property.
        PageShape{"Win32_Process/page-2.xml", 3, false, "uuid:ctx-1"},
        // Nothing at all, ended at once.
        PageShape{"Win32_PrintJob/page-1.xml", 0, true, ""},
        // The enumeration-namespace end inside an Enumerate response.
        PageShape{"Tavo_EnumEnd/page-1.xml", 2, true, ""}));

TEST(ReplyParser, ValuesComeWithTheirFormAndTheItemsWithTheirOwnClass) {
    const EnumerationReply r = parseReply(fixtureReply("Win32_Process/page-2.xml"));
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[0].className, "Win32_Process");
    const ReplyItem& agent = r.items[1];
    EXPECT_EQ(agent.className, "Contoso_AgentProcess");
    ASSERT_NE(find(agent, "EndOfSequence"), nullptr);
    EXPECT_EQ(find(agent, "EndOfSequence")->text, "true");
    EXPECT_EQ(find(agent, "Tenant")->text, "Fabrikam");
    EXPECT_EQ(find(agent, "CreationDate")->form, ValueForm::Datetime);
    EXPECT_EQ(find(agent, "CreationDate")->text, "2026-12-08T06:11:13.5-08:00");
    EXPECT_EQ(find(agent, "InstallDate")->form, ValueForm::Nil);
    EXPECT_EQ(find(agent, "ExecutablePath")->text, "C:\\Program Files\\Contoso\\agent.exe");

    const EnumerationReply disks = parseReply(fixtureReply("Win32_LogicalDisk/page-1.xml"));
    const ReplyItem& c = disks.items[0];
    EXPECT_EQ(find(c, "VolumeName")->form, ValueForm::Text);  // empty, not null
    EXPECT_EQ(find(c, "VolumeName")->text, "");
    EXPECT_EQ(find(disks.items[1], "VolumeName")->form, ValueForm::Nil);
    EXPECT_EQ(find(disks.items[2], "VolumeName")->text, "Data & Logs <archive>");
    // A null array is left out altogether.
    EXPECT_EQ(find(c, "PowerManagementCapabilities"), nullptr);

    const EnumerationReply nics =
        parseReply(fixtureReply("Win32_NetworkAdapterConfiguration/page-1.xml"));
    const ReplyItem& nic = nics.items[0];
    EXPECT_EQ(find(nic, "IPAddress", 0)->text, "10.30.40.64");
    EXPECT_EQ(find(nic, "IPAddress", 1)->text, "fe80::9d1c:2b77:41a0:c3e5");
    EXPECT_EQ(find(nic, "IPAddress", 2), nullptr);
}

TEST(ReplyParser, FaultsGiveEveryCodeAndTheProvidersOwnWords) {
    // A missing class as Windows writes it: WMI's fault nested in WinRM's
    // (older hosts), or WMI's error in its CIM form beside it (newer ones).
    struct Shape {
        const char* file;
        std::vector<std::uint32_t> codes;
        std::uint32_t wmiErrorCode;
    };
    for (const Shape& shape :
         {Shape{"_faults/invalid-class.xml", {2150858778u, 0x80041010u}, 0},
          Shape{"_faults/invalid-class-wmierror.xml", {2150858778u}, 0x80041010u}}) {
        SCOPED_TRACE(shape.file);
        const EnumerationReply r = parseReply(fixtureReply(shape.file));
        ASSERT_TRUE(r.fault);
        EXPECT_EQ(r.fault->code, "s:Sender");
        EXPECT_EQ(r.fault->subcode, "n:CannotProcessFilter");
        EXPECT_EQ(r.fault->codes, shape.codes);
        EXPECT_EQ(r.fault->wmiErrorCode, shape.wmiErrorCode);
        EXPECT_EQ(r.fault->machine, "win-fixture");
        EXPECT_EQ(r.relatesTo, "uuid:request");
        EXPECT_EQ(faultCode(*r.fault), errc::kInvalidClass);
        // Tavo's own message naming the class, WMI's words, and WinRM's
        // code for whoever looks it up.
        const Error e = faultError(SoapReply{500, {}}, &r, "http://win-fixture:5985/wsman",
                                   "SELECT * FROM Win32_Nothing");
        EXPECT_EQ(e.number(), errc::kInvalidClass);
        for (const char* part :
             {"Invalid class: Win32_Nothing", "said: Invalid class", "0x8033801A"})
            EXPECT_NE(e.description().find(part), std::string::npos) << e.description();
    }
    // Not the ExtendedError's operation or query text, which come later.
    EXPECT_EQ(parseReply(fixtureReply("_faults/invalid-class.xml")).fault->message,
              "Invalid class");

    const EnumerationReply denied = parseReply(fixtureReply("Tavo_AccessDenied/page-1.xml"));
    ASSERT_TRUE(denied.fault);
    EXPECT_EQ(denied.fault->codes, std::vector<std::uint32_t>{5});
    EXPECT_EQ(denied.fault->message, "Access is denied.");
}

TEST(ReplyParser, AnInstanceHoldsOnlyItsClasssElementsAndAProjectionItsFields) {
    // The printer's own Location survives the cim:Location reference that
    // ends each instance.
    const EnumerationReply printers = parseReply(fixtureReply("_pages/printer-location-epr.xml"));
    ASSERT_EQ(printers.items.size(), 2u);
    std::vector<std::string> names;
    for (const ReplyProperty& p : printers.items[0].properties) names.push_back(p.name);
    EXPECT_EQ(names, (std::vector<std::string>{"DeviceID", "Location", "Name", "PrinterStatus"}));
    EXPECT_EQ(find(printers.items[0], "Location", 0)->text, "Building 2, 4th floor");
    EXPECT_EQ(find(printers.items[1], "Location", 0)->form, ValueForm::Nil);
    EXPECT_EQ(find(printers.items[1], "Location", 1), nullptr);

    const EnumerationReply projection =
        parseReply(fixtureReply("_pages/projection-name-state.xml"));
    ASSERT_EQ(projection.items.size(), 3u);
    EXPECT_TRUE(projection.items[1].className.empty());
    ASSERT_EQ(projection.items[1].properties.size(), 2u);
    EXPECT_EQ(find(projection.items[1], "Name", 0)->text, "Spooler");
    EXPECT_EQ(find(projection.items[1], "State", 0)->text, "Running");
}

std::string refusal(const std::string& xml) {
    try {
        parseReply(xml);
    } catch (const Error& e) {
        return e.description();
    }
    return "<accepted>";
}

TEST(ReplyParser, ATagWithAbsurdlyManyAttributesIsRefusedWithinItsBudget) {
    std::string tag = "<p:X xmlns:p=\"urn:x\"";
    for (int i = 0; i < 200000; ++i) tag += " a" + std::to_string(i) + "=\"\"";
    std::string xml = fixtureReply("_pages/projection-name-state.xml");
    xml.insert(xml.find("<w:XmlFragment>"), tag + "/>");
    const auto start = std::chrono::steady_clock::now();
    const std::string why = refusal(xml);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_NE(why.find("attributes"), std::string::npos) << why;
    // Quoted text, comments and CDATA are not attributes.
    std::string fine = fixtureReply("_pages/projection-name-state.xml");
    fine.insert(fine.find("<w:XmlFragment>"),
                "<!-- " + std::string(300, '=') + " --><![CDATA[" + std::string(300, '=') + "]]>");
    EXPECT_EQ(parseReply(fine).items.size(), 3u);
}

const std::string kHead =
    "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\"><s:Body><n:PullResponse>"
    "<n:Items><p:X xmlns:p=\"urn:x\"><p:Name>";
const std::string kTail = "</p:Name></p:X></n:Items></n:PullResponse></s:Body></s:Envelope>";

TEST(ReplyParser, HostileRepliesAreRefusedWithAReasonNeverExpanded) {
    // Entity expansion in every form: refused for the declaration itself.
    EXPECT_NE(refusal(fixtureReply("Tavo_Doctype/page-1.xml")).find("document type"),
              std::string::npos);
    std::string laughs = "<!DOCTYPE s:Envelope [<!ENTITY a \"aaaaaaaaaa\">";
    for (char c = 'b'; c <= 'j'; ++c) {
        const char prev = static_cast<char>(c - 1);
        laughs += std::string("<!ENTITY ") + c + " \"&" + prev + ";&" + prev + ";&" + prev + ";&" +
                  prev + ";&" + prev + ";&" + prev + ";&" + prev + ";&" + prev + ";\">";
    }
    laughs += "]>" + kHead + "&j;" + kTail;
    EXPECT_NE(refusal(laughs).find("document type"), std::string::npos);
    const std::string xxe =
        "<!DOCTYPE s:Envelope [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" + kHead + "&x;" + kTail;
    EXPECT_NE(refusal(xxe).find("document type"), std::string::npos);
    // An entity nobody declared is an error, not an empty string.
    EXPECT_NE(refusal(kHead + "&x;" + kTail).find("not well-formed"), std::string::npos);

    // Deep nesting: a clear refusal, no stack exhaustion.
    std::string deep = kHead;
    for (int i = 0; i < 100000; ++i) deep += "<d>";
    EXPECT_NE(refusal(deep).find("deeper"), std::string::npos);

    EXPECT_NE(refusal(fixtureReply("Tavo_Malformed/page-1.xml")).find("not well-formed"),
              std::string::npos);
    const std::string whole = fixtureReply("Win32_Service/page-2.xml");
    EXPECT_NE(refusal(whole.substr(0, whole.size() / 2)), "<accepted>");
    EXPECT_NE(refusal("<html><body>Bad gateway</body></html>").find("SOAP"), std::string::npos);
    EXPECT_NE(refusal("").find("empty"), std::string::npos);
    EXPECT_NE(refusal(std::string(kMaxReplyBytes + 1, ' ')).find("more than"), std::string::npos);
}

TEST(ReplyParser, TextIsKeptAsSentWhateverItsEscaping) {
    const EnumerationReply r =
        parseReply(kHead + "a&amp;b &lt;c&gt; &#x263A; <![CDATA[<raw>]]> \xC3\xA9" + kTail);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].properties[0].text, "a&b <c> \xE2\x98\xBA <raw> \xC3\xA9");
}

}  // namespace
}  // namespace tavo::winrm

namespace tavo::winrm {
namespace {

// Every reply cut short or with one byte spoiled, at many places: read or
// refused with a tavo::Error, never a crash (the ASan run watches memory).
TEST(ReplyParser, DamagedRepliesAreReadOrRefusedNeverCrash) {
    const char* files[] = {"Win32_Process/page-2.xml",
                           "Win32_NetworkAdapterConfiguration/page-1.xml",
                           "_faults/invalid-class.xml", "Win32_OperatingSystem/page-1.xml"};
    int refused = 0;
    for (const char* file : files) {
        const std::string whole = testing::fixtureReply(file);
        const std::size_t step = std::max<std::size_t>(1, whole.size() / 150);
        for (std::size_t at = 0; at < whole.size(); at += step) {
            for (const std::string& damaged :
                 {whole.substr(0, at), whole.substr(0, at) + '<' + whole.substr(at + 1),
                  whole.substr(0, at) + '&' + whole.substr(at + 1),
                  whole.substr(0, at) + std::string(1, '\0') + whole.substr(at + 1),
                  whole.substr(0, at) + "\xC3" + whole.substr(at + 1)}) {
                try {
                    parseReply(damaged);
                } catch (const Error&) {
                    ++refused;
                }
            }
        }
    }
    EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace tavo::winrm
