// The handshake, the 1024-byte request, the 8-byte response and the request table, each
// pinned to bytes written out here by hand.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "wire/handshake.h"
#include "wire/request_packet.h"
#include "wire/request_table.h"
#include "wire/response_packet.h"

namespace mirk3 {
namespace {

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size) { return {data, data + size}; }

TEST(HandshakeTest, GreetingAndAnswerAreFourAsciiBytes) {
  const uint8_t greeting[] = {0x4D, 0x49, 0x52, 0x4B};  // M I R K
  const uint8_t answer[] = {0x54, 0x41, 0x53, 0x48};    // T A S H
  ASSERT_EQ(HANDSHAKE_LENGTH, 4);
  EXPECT_EQ(Bytes(reinterpret_cast<const uint8_t*>(HANDSHAKE_HOST), 4), Bytes(greeting, 4));
  EXPECT_EQ(Bytes(reinterpret_cast<const uint8_t*>(HANDSHAKE_DEVICE), 4), Bytes(answer, 4));
}

TEST(RequestPacketTest, FieldsSitAtTheirOffsetsInExactly1024Bytes) {
  RequestPacket request;
  request.type = 102;
  request.subType = 3;
  request.words = {1, 31457280, 3, 4, 5, 6, 7, -2};
  request.text1 = "first";
  request.text2 = "second";

  std::vector<uint8_t> hand(1024, 0);
  const uint8_t head[] = {
      0x66, 0x00, 0x00, 0x00,  // type 102 at 0
      0x03, 0x00, 0x00, 0x00,  // sub-type 3 at 4
      0x01, 0x00, 0x00, 0x00,  // words from 8
      0x00, 0x00, 0xE0, 0x01,  // 31457280
      0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06,
      0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF,  // -2: the words end at 40
      0x00, 0x00, 0x00, 0x00,                                            // four bytes never written
  };
  std::memcpy(hand.data(), head, sizeof head);
  std::memcpy(&hand[44], "first", 5);
  std::memcpy(&hand[172], "second", 6);

  const auto encoded = request.Encode();
  EXPECT_EQ(Bytes(encoded.data(), encoded.size()), hand);
  const RequestPacket back = RequestPacket::Decode(hand.data());
  EXPECT_EQ(back.type, 102);
  EXPECT_EQ(back.subType, 3);
  EXPECT_EQ(back.words, request.words);
  EXPECT_EQ(back.text1, "first");
  EXPECT_EQ(back.text2, "second");
}

TEST(RequestPacketTest, TextsAreCutSoThatTheirNulFits) {
  RequestPacket request;
  request.text1 = std::string(200, 'a');
  request.text2 = std::string(40, 'b');
  const auto bytes = request.Encode();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[44])), std::string(127, 'a'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[172])), std::string(31, 'b'));
  for (size_t i = 204; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(ResponsePacketTest, IdThenValueInEightBytes) {
  struct Case {
    ResponsePacket response;
    std::array<uint8_t, 8> bytes;
  };
  const Case cases[] = {
      {{101, 500}, {0x65, 0x00, 0x00, 0x00, 0xF4, 0x01, 0x00, 0x00}},
      {{-1, -4}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFC, 0xFF, 0xFF, 0xFF}},
      {{100, 4 << 16}, {0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.response.Encode(), c.bytes) << c.response.id;
    const ResponsePacket back = ResponsePacket::Decode(c.bytes.data());
    EXPECT_EQ(back.id, c.response.id);
    EXPECT_EQ(back.value, c.response.value);
  }
}

TEST(RequestTableTest, EveryRequestTravelsAsItsTypeAndSubTypeNumbers) {
  struct Case {
    int32_t type, subType;
    uint8_t typeByte, subTypeByte;  // the first and fifth byte of the request
  };
  const Case cases[] = {
      {RQT_INIT, RQT_INIT_BEGIN, 100, 0},       {RQT_INIT, RQT_INIT_TOTALSIZE, 100, 2},
      {RQT_INIT, RQT_INIT_LOCK, 100, 3},        {RQT_INIT, RQT_INIT_PACKETSIZE, 100, 5},
      {RQT_INIT, RQT_INIT_ERASE, 100, 7},       {RQT_INIT, RQT_INIT_TFLASH, 100, 8},
      {RQT_INIT, RQT_INIT_RTN, 100, 10},        {RQT_PIT, RQT_PIT_SET, 101, 0},
      {RQT_PIT, RQT_PIT_GET, 101, 1},           {RQT_PIT, RQT_PIT_XMIT, 101, 2},
      {RQT_PIT, RQT_PIT_END, 101, 3},           {RQT_XMIT, RQT_XMIT_BEGIN, 102, 0},
      {RQT_XMIT, RQT_XMIT_ANNOUNCE, 102, 2},    {RQT_XMIT, RQT_XMIT_END, 102, 3},
      {RQT_CLOSE, RQT_CLOSE_END, 103, 0},       {RQT_CLOSE, RQT_CLOSE_REBOOT, 103, 1},
      {RQT_DEVINFO, RQT_DEVINFO_BEGIN, 105, 0}, {RQT_DEVINFO, RQT_DEVINFO_PIECE, 105, 1},
      {RQT_DEVINFO, RQT_DEVINFO_END, 105, 2},
  };
  for (const Case& c : cases) {
    RequestPacket request;
    request.type = c.type;
    request.subType = c.subType;
    const auto bytes = request.Encode();
    const std::vector<uint8_t> expected = {c.typeByte, 0, 0, 0, c.subTypeByte, 0, 0, 0};
    EXPECT_EQ(Bytes(bytes.data(), 8), expected) << int{c.typeByte} << "/" << int{c.subTypeByte};
  }
}

TEST(RequestTableTest, ProtocolVersionIsTheUpperHalfOfTheAnswer) {
  EXPECT_EQ(AnswerOfProtocolVersion(4), 0x00040000);
  EXPECT_EQ(ProtocolVersionOfAnswer(0x0003FFFF), 3);
  // A failed exchange (0x80000000) reads as version 0x8000.
  EXPECT_EQ(ProtocolVersionOfAnswer(INT32_MIN), 0x8000);
}

}  // namespace
}  // namespace mirk3
