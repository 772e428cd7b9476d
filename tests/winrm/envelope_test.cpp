// The requests are read back with libxml2 as a server would read them: what
// matters is which element sits in which namespace, not the spelling.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "grid/error.h"
#include "platform/linux/winrm/envelope.h"
#include "platform/linux/winrm/wsman_names.h"

namespace tavo::winrm {
namespace {

struct Doc {
    explicit Doc(const std::string& xml)
        : doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                            XML_PARSE_NONET),
              xmlFreeDoc) {}
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc;

    // The element's path from the root, each step "uri|local".
    const xmlNode* at(std::initializer_list<std::pair<const char*, const char*>> path) const {
        const xmlNode* n = xmlDocGetRootElement(doc.get());
        bool first = true;
        for (const auto& [uri, local] : path) {
            if (!first) {
                const xmlNode* c = n ? n->children : nullptr;
                while (c && !(c->type == XML_ELEMENT_NODE && matches(c, uri, local))) c = c->next;
                n = c;
            } else if (!n || !matches(n, uri, local)) {
                return nullptr;
            }
            first = false;
        }
        return n;
    }
    static bool matches(const xmlNode* n, const char* uri, const char* local) {
        return n->ns && std::strcmp(reinterpret_cast<const char*>(n->ns->href), uri) == 0 &&
               std::strcmp(reinterpret_cast<const char*>(n->name), local) == 0;
    }
    static std::string text(const xmlNode* n) {
        if (!n) return "<missing>";
        xmlChar* t = xmlNodeGetContent(n);
        std::string s = reinterpret_cast<const char*>(t);
        xmlFree(t);
        return s;
    }
    static std::string attr(const xmlNode* n, const char* name, const char* uri) {
        if (!n) return "<missing>";
        xmlChar* v = xmlGetNsProp(n, reinterpret_cast<const xmlChar*>(name),
                                  reinterpret_cast<const xmlChar*>(uri));
        std::string s = v ? reinterpret_cast<const char*>(v) : "<none>";
        xmlFree(v);
        return s;
    }
};

using P = std::pair<const char*, const char*>;
const P kEnv{ns::kSoap, "Envelope"}, kHeader{ns::kSoap, "Header"}, kBody{ns::kSoap, "Body"};

EnvelopeHeader header() {
    EnvelopeHeader h;
    h.to = "http://win-1:5985/wsman";
    h.messageId = "uuid:11111111-2222-4333-8444-555555555555";
    h.operationTimeout = std::chrono::milliseconds(60000);
    return h;
}

TEST(Envelope, EnumerateCarriesTheHeadersAndTheQueryAsTheServiceReadsThem) {
    const std::string wql = "SELECT * FROM Win32_Service WHERE Name = 'a<b>&\"c\"'";
    Doc d(enumerateEnvelope(header(), wql, 32000));
    ASSERT_TRUE(d.doc) << "not well-formed";

    EXPECT_EQ(Doc::text(d.at({kEnv, kHeader, {ns::kAddressing, "To"}})), "http://win-1:5985/wsman");
    const xmlNode* resource = d.at({kEnv, kHeader, {ns::kWsman, "ResourceURI"}});
    EXPECT_EQ(Doc::text(resource), ns::kCimv2AllClasses);
    EXPECT_EQ(Doc::attr(resource, "mustUnderstand", ns::kSoap), "true");
    EXPECT_EQ(Doc::text(d.at(
                  {kEnv, kHeader, {ns::kAddressing, "ReplyTo"}, {ns::kAddressing, "Address"}})),
              ns::kAnonymous);
    EXPECT_EQ(Doc::text(d.at({kEnv, kHeader, {ns::kAddressing, "Action"}})), ns::kActionEnumerate);
    EXPECT_EQ(Doc::text(d.at({kEnv, kHeader, {ns::kAddressing, "MessageID"}})),
              "uuid:11111111-2222-4333-8444-555555555555");
    const xmlNode* size = d.at({kEnv, kHeader, {ns::kWsman, "MaxEnvelopeSize"}});
    EXPECT_EQ(Doc::text(size), "512000");
    EXPECT_EQ(Doc::attr(size, "mustUnderstand", ns::kSoap), "true");
    EXPECT_EQ(Doc::text(d.at({kEnv, kHeader, {ns::kWsman, "OperationTimeout"}})), "PT60.000S");
    EXPECT_EQ(Doc::attr(d.at({kEnv, kHeader, {ns::kWsman, "Locale"}}), "lang",
                        "http://www.w3.org/XML/1998/namespace"),
              "en-US");
    EXPECT_NE(d.at({kEnv, kHeader, {ns::kMsWsman, "DataLocale"}}), nullptr);

    const P kEnumerate{ns::kEnumeration, "Enumerate"};
    EXPECT_NE(d.at({kEnv, kBody, kEnumerate, {ns::kWsman, "OptimizeEnumeration"}}), nullptr);
    // Inside Enumerate, MaxElements is the wsman one.
    EXPECT_EQ(Doc::text(d.at({kEnv, kBody, kEnumerate, {ns::kWsman, "MaxElements"}})), "32000");
    EXPECT_EQ(d.at({kEnv, kBody, kEnumerate, {ns::kEnumeration, "MaxElements"}}), nullptr);
    const xmlNode* filter = d.at({kEnv, kBody, kEnumerate, {ns::kWsman, "Filter"}});
    EXPECT_EQ(Doc::attr(filter, "Dialect", nullptr), ns::kWqlDialect);
    // Markup in the query comes back as the very text that was sent.
    EXPECT_EQ(Doc::text(filter), wql);
}

TEST(Envelope, PullAndReleaseNameTheContextInTheEnumerationNamespace) {
    const std::string context = "uuid:0D8E & <1>";
    Doc pull(pullEnvelope(header(), context, 50));
    ASSERT_TRUE(pull.doc);
    const P kPull{ns::kEnumeration, "Pull"};
    EXPECT_EQ(Doc::text(pull.at({kEnv, kHeader, {ns::kAddressing, "Action"}})), ns::kActionPull);
    EXPECT_EQ(Doc::text(pull.at({kEnv, kBody, kPull, {ns::kEnumeration, "EnumerationContext"}})),
              context);
    // Inside Pull, MaxElements is the enumeration one.
    EXPECT_EQ(Doc::text(pull.at({kEnv, kBody, kPull, {ns::kEnumeration, "MaxElements"}})), "50");
    EXPECT_EQ(pull.at({kEnv, kBody, kPull, {ns::kWsman, "MaxElements"}}), nullptr);
    EXPECT_EQ(Doc::text(pull.at({kEnv, kHeader, {ns::kWsman, "ResourceURI"}})),
              ns::kCimv2AllClasses);

    Doc release(releaseEnvelope(header(), context));
    ASSERT_TRUE(release.doc);
    EXPECT_EQ(Doc::text(release.at({kEnv, kHeader, {ns::kAddressing, "Action"}})),
              ns::kActionRelease);
    EXPECT_EQ(Doc::text(release.at({kEnv,
                                    kBody,
                                    {ns::kEnumeration, "Release"},
                                    {ns::kEnumeration, "EnumerationContext"}})),
              context);
}

TEST(Envelope, EachRequestGetsItsOwnMessageId) {
    std::set<std::string> seen;
    EnvelopeHeader h = header();
    h.messageId.clear();
    for (int i = 0; i < 200; ++i) {
        Doc d(pullEnvelope(h, "uuid:c", 1));
        const std::string id = Doc::text(d.at({kEnv, kHeader, {ns::kAddressing, "MessageID"}}));
        ASSERT_EQ(id.size(), 41u) << id;
        EXPECT_EQ(id.substr(0, 5), "uuid:");
        EXPECT_EQ(id[19], '4') << "version 4: " << id;
        EXPECT_TRUE(seen.insert(id).second) << id;
    }
}

TEST(Envelope, TimeoutsAndAQueryXmlCannotCarry) {
    EXPECT_EQ(xsDuration(std::chrono::milliseconds(1500)), "PT1.500S");
    EXPECT_EQ(xsDuration(std::chrono::milliseconds(-5)), "PT0.000S");
    try {
        enumerateEnvelope(header(), std::string("SELECT * FROM Win32_Service\x01", 28), 1);
        ADD_FAILURE() << "a control character went out";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kInvalidQuery);
    }
    // Tabs and line breaks are ordinary white space in a query.
    Doc d(enumerateEnvelope(header(), "SELECT *\n\tFROM Win32_Service", 1));
    EXPECT_TRUE(d.doc);
}

}  // namespace
}  // namespace tavo::winrm
