#include "protocol/qr_payload.h"

#include <gtest/gtest.h>

#include "common/hex_text.h"
#include "monitor/function_monitor.h"
#include "protocol/qr_symbol.h"

namespace kasse {
namespace {

TEST(QrPayload, FiltersEncodesUrlSafeAndResets) {
  QrPayload payload;
  // Command data of the example record (hash shortened), then an answer.
  ASSERT_TRUE(payload.QRAppend(HexParse("C8 02 03 D2 E1 0C D8 02 11 9C DA 02 01 9C DB 02 19 00")));
  ASSERT_TRUE(payload.QRAppend(HexParse("CB 04 FB FF FF FF")));
  const std::string url = payload.BuildVerifyUrl("127.0.0.1:8080");
  // E1 08 D8 02 11 9C DB 02 19 00 CB 04 FB FF FF FF
  EXPECT_EQ(url, "http://127.0.0.1:8080/verify.php?t1=4QjYAhGc2wIZAMsE-____w==");
  EXPECT_EQ(payload.LastVerifyUrl(), url);
  EXPECT_TRUE(payload.Bytes().empty());
  auto decoded = DecodeT1("4QjYAhGc2wIZAMsE-____w==");
  ASSERT_TRUE(decoded);
  EXPECT_EQ(HexWritten(*decoded), "E1 08 D8 02 11 9C DB 02 19 00 CB 04 FB FF FF FF");
}

TEST(QrPayload, EmptyOrOverflowingPayloadGivesNoUrl) {
  FunctionMonitor monitor;
  QrPayload payload(&monitor);
  EXPECT_EQ(payload.BuildVerifyUrl("h"), "");
  ASSERT_TRUE(payload.QRAppend(Bytes(1000, 0x01)));
  EXPECT_FALSE(payload.QRAppend(Bytes(25, 0x01)));
  EXPECT_NE(monitor.Text().find("1024"), std::string::npos);
  EXPECT_EQ(payload.BuildVerifyUrl("h"), "");
  // The refusal lasts for one operation only.
  ASSERT_TRUE(payload.QRAppend(Bytes{0xCB, 0x01, 0x07}));
  EXPECT_EQ(payload.BuildVerifyUrl("h"), "http://h/verify.php?t1=ywEH");
}

TEST(QrSymbol, SquareMatrixWithFinderPatterns) {
  auto symbol = RenderQrModules("http://127.0.0.1:8080/verify.php?t1=4QjYAhGc2wIZAMsE-____w==");
  ASSERT_TRUE(symbol);
  EXPECT_GE(symbol->size, 21);
  EXPECT_EQ((symbol->size - 17) % 4, 0);
  EXPECT_EQ(symbol->modules.size(), static_cast<std::size_t>(symbol->size * symbol->size));
  // Top-left finder: dark ring, light gap, dark centre.
  EXPECT_TRUE(symbol->Dark(0, 0));
  EXPECT_TRUE(symbol->Dark(0, 6));
  EXPECT_FALSE(symbol->Dark(1, 1));
  EXPECT_TRUE(symbol->Dark(3, 3));
  EXPECT_FALSE(RenderQrModules(""));
  EXPECT_FALSE(RenderQrModules(std::string(5000, 'x')));
}

}  // namespace
}  // namespace kasse
