// The channel's logic on plain memory: block layout, pieces, identifiers,
// joining pieces, names and the qx string helpers.
#include <algorithm>
#include <climits>
#include <cstring>
#include <set>
#include <stdexcept>
#include <vector>

#include "block_layout.h"
#include "channel_names.h"
#include "fastipc/fastipc.h"
#include "fastipc/qx.h"
#include "gtest/gtest.h"
#include "pieces.h"

namespace {

using namespace fastipc;

TEST(FastipcLayout, FieldsSitAtTheirOffsetsLittleEndian) {
  std::vector<unsigned char> view(layout::blockBytes(8), 0xEE);
  const std::string id(120, 'I');  // longer than the field: cut to 100, no terminator
  layout::fillBlock(view.data(), kTypePiece, id.c_str(), "payload!", 8);
  EXPECT_EQ(view.size(), 8u + 116u);
  EXPECT_EQ(std::vector<unsigned char>(view.begin() + 4, view.begin() + 8),
            (std::vector<unsigned char>{1, 0, 0, 0}));
  EXPECT_EQ(std::vector<unsigned char>(view.begin() + 108, view.begin() + 112),
            (std::vector<unsigned char>{8, 0, 0, 0}));
  EXPECT_EQ(std::string(view.begin() + 8, view.begin() + 108), std::string(100, 'I'));
  EXPECT_EQ(std::string(view.begin() + 112, view.begin() + 120), "payload!");
  EXPECT_EQ(std::vector<unsigned char>(view.end() - 4, view.end()),
            (std::vector<unsigned char>(4, 0xEE)));  // spare bytes untouched
  EXPECT_EQ(view[0], 0xEE);                          // state untouched

  layout::fillBlock(view.data(), kTypeLastPiece, "ABC", "x", 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(view.data()) + 8, 4), std::string("ABC\0", 4));
  EXPECT_EQ(view[107], 0);  // the rest of the id is zero
}

TEST(FastipcLayout, WholeMessageLeavesTheIdentifierAlone) {
  std::vector<unsigned char> view(layout::blockBytes(4), 0x55);
  layout::fillBlock(view.data(), kTypeWhole, "IGNORED", "ab", 2);
  EXPECT_EQ(view[8], 0x55);
  MemBlock block;
  layout::readBlock(view.data(), 4, &block);
  EXPECT_EQ(block.type, 0);
  EXPECT_EQ(block.idText(), "");
  EXPECT_EQ(std::string(block.data, 3), std::string("ab\0", 3));
}

TEST(FastipcLayout, StateChangesOnlyFromTheExpectedValue) {
  std::vector<unsigned char> view(layout::blockBytes(0), 0);
  EXPECT_FALSE(layout::casState(view.data(), layout::kStateFull, layout::kStateClaimed));
  EXPECT_TRUE(layout::casState(view.data(), layout::kStateFree, layout::kStateClaimed));
  EXPECT_FALSE(layout::casState(view.data(), layout::kStateFree, layout::kStateClaimed));
  layout::exchangeState(view.data(), layout::kStateFull);
  EXPECT_EQ(layout::loadLe32(view.data()), 1u);
}

TEST(FastipcLayout, ReaderCutsAnOversizedLengthToTheBlock) {
  std::vector<unsigned char> view(layout::blockBytes(16), 'p');
  layout::storeLe32(view.data() + layout::kTypeOffset, 2);
  layout::storeLe32(view.data() + layout::kLengthOffset, 0x80000000u);
  MemBlock block;
  layout::readBlock(view.data(), 16, &block);
  EXPECT_EQ(block.length, 16u);
  EXPECT_EQ(std::string(block.data), std::string(16, 'p'));
  EXPECT_EQ(std::string(block.id, 100), std::string(100, 'p'));
}

TEST(FastipcPieces, MessagesAreCutAtTheBlockSize) {
  struct Case {
    uint32_t len, size;
    std::vector<std::pair<uint32_t, int32_t>> pieces;  // length, type
  };
  const std::vector<Case> cases = {
      {0, 1024, {{0, 0}}},
      {1024, 1024, {{1024, 0}}},
      {1025, 1024, {{1024, 1}, {1, 2}}},
      {2048, 1024, {{1024, 1}, {1024, 2}}},
      {3000, 1024, {{1024, 1}, {1024, 1}, {952, 2}}},
      {0, 0, {{0, 0}}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(pieceCount(c.len, c.size), c.pieces.size()) << c.len;
    uint32_t offset = 0;
    for (uint32_t i = 0; i < c.pieces.size(); ++i) {
      const Piece p = pieceAt(c.len, c.size, i);
      EXPECT_EQ(p.offset, offset);
      EXPECT_EQ(p.length, c.pieces[i].first) << c.len << " piece " << i;
      EXPECT_EQ(p.type, c.pieces[i].second) << c.len << " piece " << i;
      offset += p.length;
    }
    EXPECT_EQ(offset, c.len);
  }
  EXPECT_EQ(pieceCount(5, 0), 0u);  // cannot travel without payload room
  EXPECT_EQ(pieceCount(UINT32_MAX, 1u << 31), 2u);
}

MemBlock makeBlock(int32_t type, const std::string& id, const std::string& data) {
  MemBlock block;
  block.type = type;
  std::memcpy(block.id, id.c_str(), std::min(id.size(), sizeof block.id));
  block.length = static_cast<uint32_t>(data.size());
  block.data = new char[data.size() + 1];
  std::memcpy(block.data, data.c_str(), data.size() + 1);
  return block;
}

TEST(FastipcAssembler, JoinsInterleavedMessagesByIdentifier) {
  MessageAssembler assembler;
  std::string out;
  EXPECT_FALSE(assembler.add(makeBlock(1, "A", "a1"), &out));
  EXPECT_FALSE(assembler.add(makeBlock(1, "B", "b1"), &out));
  ASSERT_TRUE(assembler.add(makeBlock(0, "", "whole"), &out));
  EXPECT_EQ(out, "whole");
  ASSERT_TRUE(assembler.add(makeBlock(2, "B", "b2"), &out));
  EXPECT_EQ(out, "b1b2");
  ASSERT_TRUE(assembler.add(makeBlock(2, "A", "a2"), &out));
  EXPECT_EQ(out, "a1a2");
  EXPECT_EQ(assembler.pending(), 0u);
  ASSERT_TRUE(assembler.add(makeBlock(2, "lost-start", "tail"), &out));
  EXPECT_EQ(out, "tail");
}

TEST(FastipcAssembler, DropsTheOldestUnfinishedMessage) {
  MessageAssembler assembler(2);
  std::string out;
  assembler.add(makeBlock(1, "dead", "x"), &out);
  assembler.add(makeBlock(1, "B", "b"), &out);
  assembler.add(makeBlock(1, "C", "c"), &out);
  EXPECT_EQ(assembler.pending(), 2u);
  ASSERT_TRUE(assembler.add(makeBlock(2, "dead", "y"), &out));
  EXPECT_EQ(out, "y");  // its first piece was dropped
  ASSERT_TRUE(assembler.add(makeBlock(2, "B", "2"), &out));
  EXPECT_EQ(out, "b2");
}

TEST(FastipcMemBlock, CopiesOwnTheirData) {
  MemBlock a = makeBlock(1, "ID", "text");
  MemBlock b(a);
  MemBlock c;
  c = a;
  a.data[0] = 'X';
  EXPECT_STREQ(b.data, "text");
  EXPECT_STREQ(c.data, "text");
  EXPECT_EQ(c.idText(), "ID");
  MemBlock d(std::move(b));
  EXPECT_EQ(b.data, nullptr);
  EXPECT_STREQ(d.data, "text");
}

TEST(FastipcNames, SuffixesAndPosixNames) {
  EXPECT_EQ(genWritedEventName(L"chan"), L"chan_w");
  EXPECT_EQ(genReadedEventName(L"chan"), L"chan_r");
  EXPECT_EQ(genMappingFileName(L"chan"), L"chan_m");
  EXPECT_EQ(genServerName(L"chan"), L"chan_c");
  EXPECT_EQ(genServerName().size(), 36u);
  std::string name;
  ASSERT_TRUE(posixObjectName(L"通道_w", &name));
  EXPECT_EQ(name, "/\xE9\x80\x9A\xE9\x81\x93_w");
  EXPECT_TRUE(posixObjectName(std::wstring(251, L'x'), &name));
  EXPECT_FALSE(posixObjectName(std::wstring(252, L'x'), &name));
  EXPECT_FALSE(posixObjectName(L"a/b_w", &name));
  EXPECT_FALSE(posixObjectName(std::wstring(L"a\0b", 3), &name));
}

// A version-4 GUID in upper-case hexadecimal: H a digit, V its variant (8, 9, A or B).
bool IsUpperCaseGuid(const std::string& text) {
  static const std::string kShape = "HHHHHHHH-HHHH-4HHH-VHHH-HHHHHHHHHHHH";
  if (text.size() != kShape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    const bool variant = c == '8' || c == '9' || c == 'A' || c == 'B';
    if (kShape[i] == 'H' ? !hex : kShape[i] == 'V' ? !variant : c != kShape[i]) return false;
  }
  return true;
}

TEST(FastipcQx, GuidsAreFreshUpperCaseText) {
  EXPECT_FALSE(IsUpperCaseGuid("0123ABCD-0123-4ABC-CABC-0123456789AB"));  // variant C
  EXPECT_FALSE(IsUpperCaseGuid("0123abcd-0123-4abc-8abc-0123456789ab"));  // lower case
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    char* guid = qx::GenerateGuid();
    ASSERT_TRUE(IsUpperCaseGuid(guid)) << guid;
    seen.insert(guid);
    delete[] guid;
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_EQ(qx::w2s(qx::GenerateGuidW()).size(), 36u);
}

TEST(FastipcQx, Utf8ConversionsRoundTripAndRejectBadInput) {
  const std::string text = "ascii é 通道 \xF0\x9F\x98\x80";
  const std::wstring wide = qx::s2w(text);
  EXPECT_EQ(wide, L"ascii é 通道 \U0001F600");
  EXPECT_EQ(qx::w2s(wide), text);
  const std::wstring surrogates = {L'a', static_cast<wchar_t>(0xD83D),
                                   static_cast<wchar_t>(0xDE00)};
  EXPECT_EQ(qx::w2s(surrogates), "a\xF0\x9F\x98\x80");
  for (const std::string& bad :
       {std::string("\xC3"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
        std::string("\xF4\x90\x80\x80"), std::string("\xFF"), std::string("\x80")}) {
    try {
      qx::s2w(bad);
      ADD_FAILURE() << "accepted invalid UTF-8";
    } catch (const std::range_error& e) {
      EXPECT_STREQ(e.what(), "bad conversion");
    }
  }
  EXPECT_THROW(qx::w2s(std::wstring(1, static_cast<wchar_t>(0xDC00))), std::range_error);
  EXPECT_THROW(qx::w2s(std::wstring(1, static_cast<wchar_t>(0xD800))), std::range_error);
  EXPECT_THROW(qx::w2s(std::wstring(1, static_cast<wchar_t>(0x110000))), std::range_error);
}

TEST(FastipcQx, ParseLongReadsTheLeadingNumber) {
  EXPECT_EQ(qx::parseLong(L"  42abc"), 42);
  EXPECT_EQ(qx::parseLong(L"\t-17"), -17);
  EXPECT_EQ(qx::parseLong(L"+8"), 8);
  EXPECT_EQ(qx::parseLong(L""), 0);
  EXPECT_EQ(qx::parseLong(L"abc"), 0);
  EXPECT_EQ(qx::parseLong(L"- 5"), 0);
  EXPECT_EQ(qx::parseLong(L"99999999999999999999999"), LONG_MAX);
  EXPECT_EQ(qx::parseLong(L"-9223372036854775808"), LONG_MIN);
  EXPECT_EQ(qx::parseLong(L"-99999999999999999999999"), LONG_MIN);
}

}  // namespace
