#include <gtest/gtest.h>

#include "common/amount.h"
#include "common/base_n.h"
#include "common/hex_text.h"
#include "common/packed.h"
#include "common/sha.h"

namespace kasse {
namespace {

Bytes B(std::initializer_list<int> values) {
  Bytes bytes;
  for (int v : values)
    bytes.push_back(static_cast<Byte>(v));
  return bytes;
}

TEST(Amount, FormatsSignPlaceCommaAndEuro) {
  struct {
    std::int64_t cents;
    const char* text;
  } cases[] = {{199, " 1,99\x80"},       {5, " 0,05\x80"},       {-5, "-0,05\x80"},
               {0, " 0,00\x80"},         {12345, " 123,45\x80"}, {100000, " 1000,00\x80"},
               {-123456, "-1234,56\x80"}};
  for (const auto& c : cases)
    EXPECT_EQ(FormatAmount(c.cents), c.text) << c.cents;
}

TEST(Amount, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(RoundCommercial(2.5), 3);
  EXPECT_EQ(RoundCommercial(-2.5), -3);
  EXPECT_EQ(RoundCommercial(2.49), 2);
  EXPECT_EQ(RoundCommercial(2.4999), 2);
  EXPECT_EQ(RoundCommercial(497.5), 498);
  EXPECT_EQ(RoundCommercial(-24.875), -25);
  EXPECT_EQ(RoundCommercial(18.5), 19);
  EXPECT_EQ(RoundCommercial(-18.5), -19);
  EXPECT_EQ(RoundCommercial(0.0), 0);
}

TEST(Amount, ParsesOnlyWholeNumbers) {
  EXPECT_EQ(ParseInteger("-199").value(), -199);
  EXPECT_EQ(ParseInteger("+7").value(), 7);
  // Kind and the offset where reading stopped.
  struct {
    const char* text;
    ErrorKind kind;
    std::size_t offset;
  } bad[] = {{"", ErrorKind::kMalformed, 0},    {"1,5", ErrorKind::kMalformed, 1},
             {"12a", ErrorKind::kMalformed, 2}, {"+", ErrorKind::kMalformed, 1},
             {" 3", ErrorKind::kMalformed, 0},  {"99999999999999999999", ErrorKind::kTooLong, 20}};
  for (const auto& b : bad) {
    const Result<std::int64_t> parsed = ParseInteger(b.text);
    ASSERT_FALSE(parsed) << b.text;
    EXPECT_EQ(parsed.error().kind, b.kind) << b.text;
    EXPECT_EQ(parsed.error().offset, b.offset) << b.text;
  }
}

// RFC 4648 section 10 inputs; the padding counts only the fill bits of the last character.
TEST(Base32, PaddingCountsFillBitsOfLastCharacter) {
  EXPECT_EQ(Base32Encode(ToBytes("")), "");
  EXPECT_EQ(Base32Encode(ToBytes("f")), "MY==");
  EXPECT_EQ(Base32Encode(ToBytes("fo")), "MZXQ====");
  EXPECT_EQ(Base32Encode(ToBytes("foo")), "MZXW6=");
  EXPECT_EQ(Base32Encode(ToBytes("foob")), "MZXW6YQ===");
  EXPECT_EQ(Base32Encode(ToBytes("fooba")), "MZXW6YTB");
  EXPECT_EQ(Base32Encode(ToBytes("foobar")), "MZXW6YTBOI==");
  EXPECT_EQ(Base32Encode(Bytes(20, 0xFF)).size(), 32u);
  const std::string signature = Base32Encode(Bytes(48, 0x5A));
  EXPECT_EQ(signature.size(), 78u);
  EXPECT_EQ(signature.back(), '=');
  EXPECT_NE(signature[76], '=');
}

TEST(Base64, FollowsRfc4648) {
  const char* vectors[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
  for (auto& v : vectors) {
    EXPECT_EQ(Base64Encode(ToBytes(v[0])), v[1]);
    auto decoded = Base64Decode(v[1]);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(ToText(*decoded), v[0]);
  }
  EXPECT_EQ(Base64Encode(B({0xFB, 0xFF})), "+/8=");
}

TEST(Base64, DecodingRefusesBadInput) {
  // The offset is the character where decoding stopped.
  EXPECT_EQ(Base64Decode("Zm9").error().offset, 3u);
  EXPECT_EQ(Base64Decode("Zm9v!A==").error().offset, 4u);
  EXPECT_EQ(Base64Decode("Zh==").error().offset, 1u);  // trailing bits set
  EXPECT_FALSE(Base64Decode("-_8=", Base64Alphabet::kStandard));
  auto url = Base64Decode("-_8", Base64Alphabet::kUrlSafe);
  ASSERT_TRUE(url);
  EXPECT_EQ(*url, B({0xFB, 0xFF}));
}

TEST(HexText, WritesUpperCaseWithBlanks) {
  EXPECT_EQ(HexWritten(B({0x00, 0xA4, 0x04, 0x00})), "00 A4 04 00");
  EXPECT_EQ(HexWritten({}), "");
  EXPECT_EQ(HexCompact(B({0x90, 0x00})), "9000");
  EXPECT_EQ(StripBlanks("90 00"), "9000");
}

TEST(HexText, ParsesLeniently) {
  EXPECT_EQ(HexParse("00 b0 0000 00"), B({0x00, 0xB0, 0x00, 0x00, 0x00}));
  EXPECT_EQ(HexParse("A"), B({0x0A}));
  EXPECT_EQ(HexParse("1 2"), B({0x01, 0x02}));
  EXPECT_EQ(HexParse("90  00"), B({0x90, 0x00}));
  EXPECT_EQ(HexParse("zz"), B({0x00}));
  EXPECT_EQ(HexParse("ABC"), B({0xAB, 0x0C}));
  EXPECT_TRUE(HexParse("   ").empty());
}

TEST(Packed, DigitsTwoPerByte) {
  EXPECT_EQ(*PackDigits("20260512"), B({0x20, 0x26, 0x05, 0x12}));
  EXPECT_EQ(*PackDigits("0930"), B({0x09, 0x30}));
  EXPECT_EQ(*PackDigits("123"), B({0x01, 0x23}));
  EXPECT_FALSE(PackDigits("12a4"));
}

TEST(Packed, SignedAmounts) {
  EXPECT_EQ(PackSignedAmount(1234), B({0x01, 0x23, 0x4C}));
  EXPECT_EQ(PackSignedAmount(12345), B({0x12, 0x34, 0x5C}));
  EXPECT_EQ(PackSignedAmount(0), B({0x0C}));
  EXPECT_EQ(PackSignedAmount(-500), B({0x50, 0x0D}));
  EXPECT_EQ(PackSignedAmount(119), B({0x11, 0x9C}));
  EXPECT_EQ(PackSignedAmount(-19), B({0x01, 0x9D}));
  for (std::int64_t v : {0LL, 1LL, -1LL, 99LL, -12345678LL, 9999999999999LL}) {
    auto back = UnpackSignedAmount(PackSignedAmount(v));
    ASSERT_TRUE(back) << v;
    EXPECT_EQ(*back, v);
  }
  // The offset is the byte that is not a digit pair or the sign.
  EXPECT_EQ(UnpackSignedAmount(B({0x12})).error().offset, 0u);              // no sign nibble
  EXPECT_EQ(UnpackSignedAmount(B({0x01, 0x1A, 0x2C})).error().offset, 1u);  // not a digit
  EXPECT_FALSE(UnpackSignedAmount({}));
}

TEST(Packed, RateTextsAndPackedRates) {
  EXPECT_EQ(RateText(0.19), "19.00");
  EXPECT_EQ(RateText(0.07), "7.00");
  EXPECT_EQ(RateText(0.0), ".0");
  EXPECT_EQ(RateText(0.107), "10.70");
  EXPECT_EQ(RateText(0.055), "5.50");
  EXPECT_EQ(PackRate("19.00"), B({0x19, 0x00}));
  EXPECT_EQ(PackRate("7.00"), B({0x07, 0x00}));
  EXPECT_EQ(PackRate(".50"), B({0x50}));
  EXPECT_EQ(PackRate(".0"), B({0x00}));
  EXPECT_EQ(PackRate("10.70"), B({0x10, 0x70}));
  EXPECT_EQ(PackRate("5.50"), B({0x05, 0x50}));
  EXPECT_TRUE(PackRate("1.2.3").empty());     // "." at the second place
  EXPECT_TRUE(PackRate("123456.7").empty());  // "." cannot be placed
}

TEST(CleanIdentifier, LowerCasesDropsBlanksAndMasks) {
  EXPECT_EQ(CleanIdentifier("Ich 1"), "ich1");
  EXPECT_EQ(CleanIdentifier("Max M\xFCller"), "maxm#ller");
  EXPECT_EQ(CleanIdentifier("St\xFC"
                            "ck"),
            "st#ck");
  EXPECT_EQ(CleanIdentifier("  \t "), "");
  EXPECT_EQ(CleanIdentifier("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), "abcdefghijklmnop");
  EXPECT_EQ(CleanIdentifier("a-b_c\x7F"), "a#b#c");
}

TEST(Sha, KnownDigests) {
  EXPECT_EQ(HexCompact(Sha1(ToBytes("abc"))), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(HexCompact(Sha1({})), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_EQ(HexCompact(Sha256(ToBytes("abc"))),
            "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
}

}  // namespace
}  // namespace kasse
