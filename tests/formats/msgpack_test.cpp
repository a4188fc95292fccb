// Tests of the MessagePack reader and its format test.
#include "formats/msgpack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/heap_peak_support.h"
#include "formats/value_text_support.h"

namespace Kavren {
namespace {

using Testing::KindText;

struct MessagePackCase {
  std::vector<std::uint8_t> bytes;
  std::string expected;  // KindText of the value, or the failure message
  std::size_t consumed;
  bool ok = true;
};

void PrintTo(const MessagePackCase& c, std::ostream* os) {
  for (std::uint8_t b : c.bytes) *os << std::hex << int(b) << ' ';
}

class MessagePackReadTest : public testing::TestWithParam<MessagePackCase> {};

TEST_P(MessagePackReadTest, ReadsValueOrFailure) {
  const MessagePackCase& c = GetParam();
  std::size_t consumed = 12345;
  const BindingResult result = ReadMessagePack(c.bytes.data(), c.bytes.size(), consumed);
  EXPECT_EQ(result.ok, c.ok);
  EXPECT_EQ(c.ok ? KindText(result.value) : result.ErrorText(), c.expected);
  EXPECT_EQ(consumed, c.consumed);
}

INSTANTIATE_TEST_SUITE_P(
    Scalars, MessagePackReadTest,
    testing::Values(MessagePackCase{{}, "null", 0}, MessagePackCase{{0x05}, "s5", 1},
                    MessagePackCase{{0xCC, 0x05}, "u5", 2}, MessagePackCase{{0xFF}, "s-1", 1},
                    MessagePackCase{{0xE0}, "s-32", 1}, MessagePackCase{{0x7F}, "s127", 1},
                    MessagePackCase{{0xC0}, "null", 1}, MessagePackCase{{0xC2}, "false", 1},
                    MessagePackCase{{0xC3}, "true", 1},
                    MessagePackCase{{0xCD, 0xFF, 0xFE}, "u65534", 3},
                    MessagePackCase{{0xCE, 0xFF, 0xFF, 0xFF, 0xFF}, "u4294967295", 5},
                    MessagePackCase{{0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                    "u18446744073709551615",
                                    9},
                    MessagePackCase{{0xD0, 0x80}, "s-128", 2},
                    MessagePackCase{{0xD1, 0x80, 0x00}, "s-32768", 3},
                    MessagePackCase{{0xD2, 0xFF, 0xFF, 0xFF, 0xFE}, "s-2", 5},
                    MessagePackCase{{0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "s-9223372036854775808", 9},
                    MessagePackCase{{0xCA, 0x3F, 0xC0, 0x00, 0x00}, "f1.5", 5},
                    MessagePackCase{{0xCB, 0xBF, 0xF8, 0, 0, 0, 0, 0, 0}, "f-1.5", 9},
                    MessagePackCase{{0xA2, 'h', 'i'}, "\"hi\"", 3},
                    MessagePackCase{{0xD9, 0x01, 'x'}, "\"x\"", 3},
                    MessagePackCase{{0xDA, 0x00, 0x03, 'a', 0, 'b'}, std::string("\"a\0b\"", 5), 6},
                    MessagePackCase{{0xDB, 0, 0, 0, 0}, "\"\"", 5},
                    MessagePackCase{{0xC4, 0x02, 'A', 'B'}, "b\"QUI=\"", 4},
                    MessagePackCase{{0xC5, 0x00, 0x00}, "b\"\"", 3},
                    MessagePackCase{{0xC6, 0, 0, 0, 1, 'A'}, "b\"QQ==\"", 6},
                    MessagePackCase{{0x01, 0x02}, "s1", 1}));

INSTANTIATE_TEST_SUITE_P(
    Containers, MessagePackReadTest,
    testing::Values(MessagePackCase{{0x90}, "[]", 1}, MessagePackCase{{0x80}, "{}", 1},
                    MessagePackCase{{0x92, 0x01}, "[s1]", 2},
                    MessagePackCase{{0x91, 0xC0}, "[null]", 2},
                    MessagePackCase{{0x81, 0xA1, 'a', 0xC0}, "{a:null}", 4},
                    MessagePackCase{{0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x92, 0x02, 0x80},
                                    "{a:[s2,{}],b:s1}",
                                    9},
                    MessagePackCase{{0xDC, 0x00, 0x01, 0x90, 0x05}, "[[]]", 4},
                    MessagePackCase{{0xDE, 0x00, 0x01, 0xA1, 'k', 0xC3}, "{k:true}", 6},
                    MessagePackCase{{0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, "[s1]", 6},
                    MessagePackCase{{0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'k'}, "{}", 7},
                    // A key is the text up to its first NUL byte.
                    MessagePackCase{{0x81, 0xA3, 'a', 0, 'b', 0x01}, "{a:s1}", 6}));

// Repeated keys address the same member.
INSTANTIATE_TEST_SUITE_P(
    RepeatedKeys, MessagePackReadTest,
    testing::Values(
        MessagePackCase{{0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xA1, 'x'}, "{a:\"x\"}", 8},
        MessagePackCase{{0x82, 0xA1, 'a', 0x93, 1, 2, 3, 0xA1, 'a', 0x91, 9}, "{a:[s9,s2,s3]}", 11},
        // A longer array goes on past the elements there; a nil keeps the earlier one.
        MessagePackCase{
            {0x82, 0xA1, 'a', 0x92, 1, 2, 0xA1, 'a', 0x93, 0xC0, 3, 4}, "{a:[s1,s3,s4]}", 12},
        MessagePackCase{{0x82, 0xA1, 'a', 0x81, 0xA1, 'b', 1, 0xA1, 'a', 0x81, 0xA1, 'c', 2},
                        "{a:{b:s1,c:s2}}",
                        13},
        MessagePackCase{{0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0}, "{a:s1}", 7},
        // Members arrive in any order; the same key inside an inner map is another member.
        MessagePackCase{
            {0x83, 0xA1, 'b', 0x81, 0xA1, 'b', 2, 0xA1, 'a', 1, 0xA1, 'b', 0x81, 0xA1, 'c', 3},
            "{a:s1,b:{b:s2,c:s3}}",
            16},
        // Input ending inside open maps keeps what was read, in key order.
        MessagePackCase{{0x83, 0xA1, 'z', 1, 0xA1, 'y', 0x82, 0xA1, 'q', 2, 0xA1, 'p'},
                        "{y:{q:s2},z:s1}",
                        12}));

INSTANTIATE_TEST_SUITE_P(
    Failures, MessagePackReadTest,
    testing::Values(
        MessagePackCase{{0x81, 0x01, 0x02},
                        "Invalid MessagePack data at position 2. Map keys must be strings.",
                        2,
                        false},
        MessagePackCase{{0x81, 0xC0},
                        "Invalid MessagePack data at position 2. Map keys must be strings.",
                        2,
                        false},
        MessagePackCase{{0xC1}, "Invalid MessagePack data at position 1.", 1, false},
        MessagePackCase{{0xD4, 0x00, 0x00}, "Invalid MessagePack data at position 1.", 1, false},
        MessagePackCase{
            {0x91, 0xC7, 0x01, 0x00, 0x00}, "Invalid MessagePack data at position 2.", 2, false},
        MessagePackCase{{0xD8}, "Invalid MessagePack data at position 1.", 1, false},
        MessagePackCase{{0xCC},
                        "Invalid MessagePack data. 8-bit integer value at position 1 is truncated.",
                        1,
                        false},
        MessagePackCase{
            {0xCD, 0x01},
            "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.",
            1,
            false},
        MessagePackCase{
            {0x91, 0xCA, 1, 2, 3},
            "Invalid MessagePack data. 32-bit integer value at position 2 is truncated.",
            2,
            false},
        MessagePackCase{
            {0xD3, 1, 2, 3, 4, 5, 6, 7},
            "Invalid MessagePack data. 64-bit integer value at position 1 is truncated.",
            1,
            false},
        MessagePackCase{{0xA3, 0x61},
                        "Invalid MessagePack data. String of size 3 at position 1 is truncated.",
                        1,
                        false},
        MessagePackCase{{0x81, 0xA2, 'k'},
                        "Invalid MessagePack data. String of size 2 at position 2 is truncated.",
                        2,
                        false},
        MessagePackCase{
            {0xC4, 0x05, 1},
            "Invalid MessagePack data. Raw bytes of size 5 at position 2 are truncated.",
            2,
            false},
        // A 4 GiB length is compared without wrapping.
        MessagePackCase{{0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},
                        "Invalid MessagePack data. String of size 4294967295 at position 5 is "
                        "truncated.",
                        5,
                        false},
        MessagePackCase{{0xC6, 0xFF, 0xFF, 0xFF, 0xFF},
                        "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are "
                        "truncated.",
                        5,
                        false},
        MessagePackCase{
            {0xDA, 0x00},
            "Invalid MessagePack data. 16-bit integer value at position 1 is truncated.",
            1,
            false}));

TEST(MessagePackNesting, AcceptsFiveHundredTwelveLevelsAndRefusesMore) {
  std::vector<std::uint8_t> bytes(512, 0x91);
  bytes.push_back(0x01);
  std::size_t consumed = 0;
  EXPECT_TRUE(ReadMessagePack(bytes.data(), bytes.size(), consumed).ok);
  EXPECT_EQ(consumed, bytes.size());

  std::vector<std::uint8_t> deep(100000, 0x81);
  for (std::size_t i = 1; i < deep.size(); i += 3) {
    deep[i] = 0xA1;
    deep[i + 1] = 'k';
  }
  const BindingResult result = ReadMessagePack(deep.data(), deep.size(), consumed);
  EXPECT_EQ(result.ErrorText(),
            "Invalid MessagePack data at position 1537. Nesting depth exceeds 512.");
  EXPECT_EQ(consumed, 1537u);
}

// A map reopened by a repeated key takes new members and finds old ones, in whatever key
// order, also when it is reopened inside one that is reopened.
TEST(MessagePackReadTest, ReopenedMapsMergeWhateverTheirKeyOrder) {
  const auto text = [](std::string& out, const std::string& key) {
    out += static_cast<char>(0xA0 | key.size());
    out += key;
  };
  std::string bytes = "\x84";
  text(bytes, "a");
  bytes += "\xDE";
  bytes += '\0';
  bytes += '\x14';
  for (int i = 19; i >= 0; --i) {
    text(bytes, "k" + std::to_string(i));
    bytes += static_cast<char>(i);
  }
  text(bytes, "a");
  bytes += "\x83";
  text(bytes, "x");
  bytes += '\x01';
  text(bytes, "k3");
  text(bytes, "again");
  text(bytes, "n");
  bytes += "\x81";
  text(bytes, "q");
  bytes += '\x01';
  text(bytes, "a");
  bytes += "\x82";
  text(bytes, "n");
  bytes += "\x81";
  text(bytes, "p");
  bytes += '\x02';
  text(bytes, "k19");
  bytes += "\x80";
  text(bytes, "b");
  bytes += '\0';
  std::size_t consumed = 0;
  const BindingResult result = ReadMessagePack(bytes.data(), bytes.size(), consumed);
  ASSERT_TRUE(result.ok) << result.ErrorText();
  EXPECT_EQ(consumed, bytes.size());
  EXPECT_EQ(KindText(result.value), KindText(Testing::ReopenedObjectsMerged(true)));
}

// Counts announced by arrays reserve nothing: 512 nested arrays each announcing 2^32-1
// elements, then nils, hold no more than the data read (pre-sized, they held 128 MiB).
TEST(MessagePackReadTest, AnnouncedCountsReserveNothing) {
  std::string bytes;
  for (int i = 0; i < 512; ++i) bytes += "\xDD\xFF\xFF\xFF\xFF";
  bytes.append(16384, '\xC0');
  std::size_t consumed = 0;
  bool ok = false;
  std::size_t peak = 0;
  {
    const Testing::HeapPeak heap;
    ok = ReadMessagePack(bytes.data(), bytes.size(), consumed).ok;
    peak = heap.Peak();
  }
  EXPECT_TRUE(ok);
  EXPECT_EQ(consumed, bytes.size());
  // The innermost array holds every nil (16-byte cells): the heap is counted.
  EXPECT_GE(peak, 16384u * 16);
  EXPECT_LE(peak, Testing::ReadPeakBound(bytes.size()));
}

TEST(MessagePackFormatTest, OnlyTopLevelContainersPass) {
  const std::uint8_t bytes[] = {0x80, 0x8F, 0x90, 0x9F, 0xDC, 0xDF, 0x00, 0xA0, 0xC0, 0xDB, 0xE0};
  const bool expected[] = {true, true, true, true, true, true, false, false, false, false, false};
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    EXPECT_EQ(IsMessagePackData(&bytes[i], 1), expected[i]) << int(bytes[i]);
  }
  EXPECT_FALSE(IsMessagePackData(bytes, 0));
}

}  // namespace
}  // namespace Kavren
