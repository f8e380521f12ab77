// SPDX-License-Identifier: Apache-2.0
// The live server's HTTP and WebSocket pieces against the RFC's own examples
// and the cases a browser or an attacker sends.

#include <gtest/gtest.h>

#include "app/serve/protocol.h"

using namespace app::serve;

TEST(ServeProtocol, HandshakeKeyAndDigestsAreTheRfcs) {
  EXPECT_EQ(websocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  EXPECT_EQ(base64(sha1("abc")), "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
  EXPECT_EQ(base64(sha1(std::string(1000, 'a'))), "KR6abGaZSUm1e6XmUDYemPw2sbo=");
  EXPECT_EQ(base64("f"), "Zg==");
  EXPECT_EQ(base64("fo"), "Zm8=");
}

TEST(ServeProtocol, OnlyLoopbackNamesAreLoopback) {
  for (const char* h : {"localhost", "LOCALHOST:8765", "127.0.0.1", "127.1.2.3:80", "[::1]:8765",
                        "http://localhost:8765", "http://127.0.0.1"})
    EXPECT_TRUE(isLoopbackHost(h)) << h;
  for (const char* h : {"", "evil.example", "localhost.evil.example", "127.0.0.1.evil.example", "128.0.0.1",
                        "127.0.0", "127.0.0.256", "0.0.0.0", "localhost:", "localhost:8765x", "[::2]"})
    EXPECT_FALSE(isLoopbackHost(h)) << h;
}

TEST(ServeProtocol, RequestHeadsAreStrict) {
  Request r;
  ASSERT_TRUE(parseRequest("GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade:  websocket \r\n\r\n", &r));
  EXPECT_EQ(r.header("upgrade"), "websocket");
  for (const char* bad :
       {"GET / HTTP/1.1\r\n\r", "GET  / HTTP/1.1\r\n\r\n", "GET / HTTP/2\r\n\r\n",
        "GET / HTTP/1.1\r\nNo colon\r\n\r\n", "GET / HTTP/1.1\r\nX: a\x01\r\n\r\n", "G(T / HTTP/1.1\r\n\r\n"})
    EXPECT_FALSE(parseRequest(bad, &r)) << bad;
}

TEST(ServeProtocol, ClientFramesAreUnmaskedOrRefusedWithTheirCode) {
  Frame f;
  std::uint16_t code = 0;
  // RFC 6455 5.7: a masked "Hello".
  const std::string hello("\x81\x85\x37\xfa\x21\x3d\x7f\x9f\x4d\x51\x58", 11);
  EXPECT_EQ(parseClientFrame(hello, &f, &code), 11);
  EXPECT_EQ(f.payload, "Hello");
  EXPECT_EQ(parseClientFrame(hello.substr(0, 10), &f, &code), 0);  // more needed
  const struct {
    std::string bytes;
    std::uint16_t code;
  } refused[] = {{std::string("\x81\x05Hello", 7), 1002},                  // not masked
                 {std::string("\xc1\x80\0\0\0\0", 6), 1002},               // reserved bit
                 {std::string("\x83\x80\0\0\0\0", 6), 1002},               // unknown opcode
                 {std::string("\x09\x80\0\0\0\0", 6), 1002},               // fragmented ping
                 {std::string("\x01\x80\0\0\0\0", 6), 1008},               // fragmented text
                 {std::string("\x82\xff\0\0\0\0\0\x01\0\x01", 10), 1009},  // 65537 bytes
                 {std::string("\x88\x82\0\0\0\0\x03\xe7", 8), 1002},       // close code 999
                 {std::string("\x88\x82\0\0\0\0\x03\xed", 8), 1002},       // close code 1005
                 {std::string("\x88\x81\0\0\0\0\x03", 7), 1002},           // a one-byte close body
                 {std::string("\x81\x82\0\0\0\0\xc3\x28", 8), 1007}};      // text that is not UTF-8
  for (const auto& [bytes, want] : refused) {
    EXPECT_EQ(parseClientFrame(bytes, &f, &code), -1);
    EXPECT_EQ(code, want);
  }
  EXPECT_EQ(serverFrame(Opcode::Text, "Hi"), std::string("\x81\x02Hi", 4));
  EXPECT_EQ(serverFrame(Opcode::Binary, std::string(300, 'x')).substr(0, 4),
            std::string("\x82\x7e\x01\x2c", 4));
}
