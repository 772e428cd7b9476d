// The HTTP reader and the sealed-body framing on their own, fed byte
// streams cut in awkward places.
#include <gtest/gtest.h>

#include <string>

#include "platform/linux/winrm/http_message.h"
#include "platform/linux/winrm/sealing_multipart.h"
#include "winrm/http_server.h"

namespace tavo::winrm {
namespace {

// A byte source handing out `text` at most `step` bytes at a time.
http::MessageReader::ReadSome source(const std::string& text, std::size_t step,
                                     std::size_t* reads = nullptr) {
    auto at = std::make_shared<std::size_t>(0);
    return [text, step, at, reads](char* buffer, std::size_t n) {
        std::size_t k = std::min({n, step, text.size() - *at});
        text.copy(buffer, k, *at);
        *at += k;
        if (reads) ++*reads;
        return k;
    };
}

TEST(HttpReader, ReadsMessagesCutAnywhereAndKeepsWhatFollows) {
    const std::string two =
        "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\nContent-Length: 5\r\n\r\nhello"
        "HTTP/1.1 500 Internal Server Error\r\nTransfer-Encoding: chunked\r\n\r\n"
        "3;ext=1\r\nabc\r\nA\r\n0123456789\r\n0\r\nTrailer: x\r\n\r\n";
    for (std::size_t step : {1, 2, 7, 4096}) {
        http::MessageReader reader(source(two, step), 1024);
        http::Message first = reader.readResponse();
        EXPECT_EQ(first.status, 200);
        EXPECT_EQ(first.body, "hello");
        ASSERT_NE(first.headers.find("content-type"), nullptr);
        http::Message second = reader.readResponse();
        EXPECT_EQ(second.status, 500);
        EXPECT_EQ(second.body, "abc0123456789") << "step " << step;
        EXPECT_THROW(reader.readResponse(), http::ClosedBeforeMessage);
    }
}

TEST(HttpReader, RefusesBrokenAndOversizedMessages) {
    auto read = [](const std::string& text, std::size_t cap = 100) {
        http::MessageReader reader(source(text, 3), cap);
        reader.readResponse();
    };
    EXPECT_THROW(read("HTTP/1.1 200 OK\r\nContent-Length: 101\r\n\r\n"), http::Malformed);
    EXPECT_THROW(read("HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\n"), http::Malformed);
    EXPECT_THROW(read("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort"), http::Malformed);
    EXPECT_THROW(read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n60\r\n" +
                      std::string(96, 'a') + "\r\n60\r\n" + std::string(96, 'b') + "\r\n0\r\n\r\n"),
                 http::Malformed);
    EXPECT_THROW(read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"),
                 http::Malformed);
    EXPECT_THROW(read("SSH-2.0-OpenSSH_9.2\r\n\r\n"), http::Malformed);
    EXPECT_THROW(read("HTTP/1.1 200 OK\r\nX: y"), http::Malformed);
    // A header block without end is refused once it passes the limit, not
    // read for ever.
    std::size_t reads = 0;
    http::MessageReader endless(
        [&reads](char* buffer, std::size_t n) {
            ++reads;
            std::fill(buffer, buffer + n, 'h');
            return n;
        },
        100);
    EXPECT_THROW(endless.readResponse(), http::Malformed);
    EXPECT_LT(reads, 10u);
}

TEST(HttpReader, ReadsARequestAndKnowsWhenThePeerCloses) {
    testing::RequestReader reader(
        source(
            "POST /wsman HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\nConnection: close\r\n\r\nab",
            5),
        100);
    http::Message m = reader.readRequest();
    EXPECT_EQ(m.method, "POST");
    EXPECT_EQ(m.target, "/wsman");
    EXPECT_EQ(m.body, "ab");
    EXPECT_TRUE(m.closes);

    // HTTP/1.0 without a length: the body is what comes until the close.
    http::MessageReader old(source("HTTP/1.0 200 OK\r\n\r\nuntil the end", 4), 100);
    http::Message r = old.readResponse();
    EXPECT_EQ(r.body, "until the end");
    EXPECT_TRUE(r.closes);
}

TEST(HttpHeaders, NamesMatchWhateverTheirCaseButOnlyLetterForLetter) {
    http::Headers h;
    h.add("content-LENGTH", "5");
    h.add("Content\rType", "text/plain");  // a hostile peer's near miss
    ASSERT_NE(h.find("Content-Length"), nullptr);
    EXPECT_EQ(*h.find("Content-Length"), "5");
    EXPECT_EQ(h.find("Content-Type"), nullptr);
    EXPECT_EQ(h.find("Content_Length"), nullptr);
}

TEST(HttpHeaders, FindsTheNegotiateTokenAmongChallenges) {
    http::Headers h;
    h.add("WWW-Authenticate", "Basic realm=\"WSMAN\"");
    h.add("www-authenticate", "Kerberos, Negotiate TlRMTVNTUAACAAAA");
    EXPECT_EQ(http::challengeToken(h, "Negotiate").value(), "TlRMTVNTUAACAAAA");
    EXPECT_EQ(http::challengeToken(h, "Kerberos").value(), "");
    EXPECT_FALSE(http::challengeToken(h, "NTLM").has_value());

    EXPECT_EQ(http::base64Decode(http::base64Encode(std::string("\0\xff\x10z", 4))).value(),
              std::string("\0\xff\x10z", 4));
    EXPECT_EQ(http::base64Decode("YQ==").value(), "a");
    EXPECT_FALSE(http::base64Decode("YQ=").has_value());
    EXPECT_FALSE(http::base64Decode("Y!==").has_value());
}

TEST(SealedBody, RoundTripsEvenWhenTheSealedBytesHoldTheBoundary) {
    const std::string sealed = "xx--Encrypted Boundary\r\nyy--Encrypted Boundary--\r\nzz";
    const std::string signature(16, '\x01');
    std::string body = sealing::frame(sealed.size(), signature, sealed);
    // Windows' framing, byte for byte at the start.
    EXPECT_EQ(body.rfind("--Encrypted Boundary\r\n\tContent-Type: "
                         "application/HTTP-SPNEGO-session-encrypted\r\n\tOriginalContent: "
                         "type=application/soap+xml;charset=UTF-8;Length=" +
                             std::to_string(sealed.size()) + "\r\n",
                         0),
              0u);
    auto parts = sealing::parse(body);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].declaredLength, sealed.size());
    EXPECT_EQ(parts[0].signature, signature);
    EXPECT_EQ(parts[0].sealed, sealed);

    // Two messages in one body, as a chunked sender may put them.
    std::string twice = sealing::frame(3, "sig", "abc");
    twice.erase(twice.size() - 24);  // without the closing boundary
    twice += sealing::frame(2, "s2", "de");
    parts = sealing::parse(twice);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].sealed, "de");
    EXPECT_EQ(parts[1].signature, "s2");

    EXPECT_TRUE(sealing::isSealed(sealing::contentType()));
    EXPECT_FALSE(sealing::isSealed("application/soap+xml;charset=UTF-8"));
    EXPECT_EQ(sealing::boundaryOf("multipart/encrypted;boundary=\"Other B\";protocol=x"),
              "Other B");
}

TEST(SealedBody, RefusesBodiesThatAreNotWhole) {
    const std::string good = sealing::frame(3, std::string(16, 's'), "abc");
    for (std::size_t cut :
         {std::size_t{5}, std::size_t{40}, good.find("octet-stream") + 15, good.size() - 3}) {
        EXPECT_THROW(sealing::parse(good.substr(0, cut)), sealing::Malformed) << cut;
    }
    // A signature length running past the end of the body.
    std::string huge = good;
    std::size_t len = huge.find("octet-stream\r\n") + 14;
    huge[len + 3] = '\x7f';
    EXPECT_THROW(sealing::parse(huge), sealing::Malformed);
    std::string noLength = good;
    noLength.replace(noLength.find("Length="), 7, "Lenxth=");
    EXPECT_THROW(sealing::parse(noLength), sealing::Malformed);
    EXPECT_THROW(sealing::parse("<s:Envelope/>"), sealing::Malformed);
}

TEST(SealedBody, DamagedBodiesNeverReadOutsideTheirBytes) {
    // Every cut and every single-byte change of a valid body either parses
    // or is refused; the sanitizer builds watch the reads.
    const std::string good = sealing::frame(40, std::string(16, 's'), std::string(40, 'd'));
    int refused = 0;
    for (std::size_t i = 0; i < good.size(); ++i) {
        try {
            sealing::parse(good.substr(0, i));
        } catch (const sealing::Malformed&) {
            ++refused;
        }
        for (char c : {'\0', '\xff', '-', '\r'}) {
            std::string bent = good;
            bent[i] = c;
            try {
                for (const auto& part : sealing::parse(bent))
                    EXPECT_LE(part.signature.size() + part.sealed.size(), bent.size());
            } catch (const sealing::Malformed&) {
            }
        }
    }
    // Only the closing boundary's line end may be missing: the data is whole.
    EXPECT_EQ(refused, static_cast<int>(good.size()) - 2);
}

}  // namespace
}  // namespace tavo::winrm
