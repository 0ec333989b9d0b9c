#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "journal/journal.h"
#include "journal/product_list.h"
#include "journal/product_reader.h"
#include "journal/xml_text.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string File(const std::string& items) {
  return std::string(kJournalHeader) + "<itemList>" + items + "</itemList></kavelo>";
}

std::vector<TProd> ReadAll(const std::string& text) {
  ProductFileReader reader;
  reader.LoadProductText(text);
  std::vector<TProd> products;
  for (;;) {
    auto next = reader.NextProduct();
    if (!next || !next->has_value()) break;
    products.push_back(**next);
  }
  return products;
}

TEST(XmlText, EscapesMarkupAndTurnsStandardEntitiesBack) {
  EXPECT_EQ(XmlEscape("Salz & <Pfeffer> \xFC\x80"), "Salz &amp; &lt;Pfeffer&gt; \xFC\x80");
  EXPECT_EQ(XmlUnescape("&amp;&lt;&gt;&quot;&apos;"), "&<>\"'");
  // Anything that is not one of the five stays as it stands.
  EXPECT_EQ(XmlUnescape("R&D &nbsp; &amp &"), "R&D &nbsp; &amp &");
}

TEST(ProductReader, QuantityDividesThePricesHalvesToEven) {
  const auto products = ReadAll(
      File("<item><name>a</name><qnt>2</qnt><price1>301</price1><price2>-301</price2></item>"
           "<item><name>b</name><qnt>4</qnt><price1>302</price1></item>"
           "<item><name>c</name><qnt>0</qnt><price1>302</price1></item>"
           "<item><name>d</name><qnt>0.5</qnt><price7>100</price7><price10>x</price10></item>"));
  ASSERT_EQ(products.size(), 4u);
  EXPECT_EQ(products[0].price[0], 150);
  EXPECT_EQ(products[0].price[1], -150);
  EXPECT_EQ(products[1].price[0], 76);
  EXPECT_EQ(products[2].price[0], 302);  // quantity 0 divides nothing
  EXPECT_EQ(products[3].price[6], 200);  // price7 read; price10 recognised and ignored
}

TEST(ProductReader, FlagsInEveryAcceptedForm) {
  const auto products = ReadAll(
      File("<item><name>x</name><thirdparty/></item>"
           "<item><name>y</name><thirtparty/><deliverynote/><voucher/><discountSurcharge/></item>"
           "<item><name>z</name><thirtparty>1</thirtparty><unknown>5</unknown></item>"
           "<item><name>w</name><thirdparty>1</thirdparty></item>"));
  ASSERT_EQ(products.size(), 4u);
  EXPECT_TRUE(products[0].thirdparty);  // the empty element leaves the nesting alone
  EXPECT_TRUE(products[1].thirdparty && products[1].deliverynote && products[1].voucher &&
              products[1].discountSurcharge);
  EXPECT_TRUE(products[2].thirdparty);
  EXPECT_FALSE(products[3].thirdparty);  // a paired thirdparty is not a form of the flag
}

TEST(ProductReader, FirstProductOfANameWins) {
  const auto products =
      ReadAll(File("<item><name>Brot</name><price2>300</price2></item>"
                   "<item><name>brot</name><price2>1</price2></item>"
                   "<item><name>Brot</name><price2>999</price2><voucher/></item>"
                   "<item><name>Milch</name><price2>119</price2></item>"));
  ASSERT_EQ(products.size(), 3u);
  EXPECT_EQ(products[0].price[1], 300);
  EXPECT_EQ(products[1].name, "brot");
  EXPECT_EQ(products[2].name, "Milch");
}

TEST(ProductReader, EntitiesAndTheLastOfRepeatedPricesAreRead) {
  const auto products = ReadAll(
      "<item><name>Kaffee &amp; Kuchen</name><unit>St\xFC"
      "ck</unit><price1>1</price1><price1>2</price1></item>");
  ASSERT_EQ(products.size(), 1u);
  EXPECT_EQ(products[0].name, "Kaffee & Kuchen");
  EXPECT_EQ(products[0].unit,
            "St\xFC"
            "ck");
  EXPECT_EQ(products[0].price[0], 2);
}

struct ProductListTest : ::testing::Test {
  fs::path folder = testing::FreshFolder();
  ProductList list;
};

TEST_F(ProductListTest, RoundTripKeepsEverythingButPrice7And8) {
  TProd mixed;
  mixed.name = "Salz & <Pfeffer>";
  mixed.unit =
      "St\xFC"
      "ck";
  mixed.price = {120, 180, 0, 0, 0, -5, 700, 800};
  mixed.thirdparty = mixed.deliverynote = mixed.voucher = mixed.discountSurcharge = true;
  TProd plain;
  plain.name = "Wasser";
  plain.price[0] = 49;
  list.Add(mixed);
  list.Add(plain);
  const fs::path file = folder / "Liste.xml";
  ASSERT_TRUE(list.SaveAs(file));
  const std::string text = ReadFile(file).value();
  EXPECT_THAT(text, HasSubstr("<item><name>Salz &amp; &lt;Pfeffer&gt;</name><unit>St\xFC"
                              "ck</unit><price1>120</price1><price2>180</price2><price6>-5"
                              "</price6><thirdparty/><deliverynote/><voucher/>"
                              "<discountSurcharge/></item><item><name>Wasser</name>"
                              "<price1>49</price1></item></itemList></kavelo>"));
  EXPECT_EQ(std::system(("xmllint --noout '" + file.string() + "'").c_str()), 0);

  ProductList loaded;
  ASSERT_TRUE(loaded.Load(file));
  ASSERT_EQ(loaded.Products().size(), 2u);
  const TProd& back = loaded.Products()[0];
  EXPECT_EQ(back.name, mixed.name);
  EXPECT_EQ(back.unit, mixed.unit);
  EXPECT_EQ(back.price[0], 120);
  EXPECT_EQ(back.price[5], -5);
  EXPECT_EQ(back.price[6], 0);
  EXPECT_TRUE(back.thirdparty && back.deliverynote && back.voucher && back.discountSurcharge);
  EXPECT_TRUE(loaded.Products()[1].unit.empty());
}

TEST_F(ProductListTest, BadPriceStopsTheLoadAndKeepsTheList) {
  const fs::path good = folder / "gut.xml", bad = folder / "schlecht.xml";
  ASSERT_TRUE(WriteFileAtomic(good, File("<item><name>Brot</name><price2>349</price2></item>")));
  ASSERT_TRUE(WriteFileAtomic(bad, File("<item><name>Milch</name><price2>119</price2></item>"
                                        "<item><name>Quark</name><price2>1,19</price2></item>")));
  ASSERT_TRUE(list.Load(good));
  const auto loaded = list.Load(bad);
  ASSERT_FALSE(loaded);
  EXPECT_THAT(loaded.error().English(), HasSubstr("schlecht.xml"));
  EXPECT_THAT(loaded.error().English(), HasSubstr("Quark"));
  ASSERT_EQ(list.Products().size(), 1u);
  EXPECT_EQ(list.Products()[0].name, "Brot");
  EXPECT_EQ(list.File(), good);

  ASSERT_TRUE(WriteFileAtomic(bad, File("<item><name>Q</name><qnt>zwei</qnt></item>")));
  EXPECT_FALSE(list.Load(bad));
  EXPECT_FALSE(list.Load(folder / "fehlt.xml"));
  EXPECT_EQ(list.Products().size(), 1u);
}

TEST_F(ProductListTest, FileCutShortOrWithoutItemListKeepsTheList) {
  const fs::path good = folder / "gut.xml", bad = folder / "kaputt.xml";
  const std::string whole = File(
      "<item><name>Brot</name><price2>349</price2></item>"
      "<item><name>Milch</name><price2>119</price2></item>");
  ASSERT_TRUE(WriteFileAtomic(good, whole));
  ASSERT_TRUE(list.Load(good));
  // Cut inside the second item, and cut just before the closing tags.
  for (std::size_t cut : {whole.find("Milch"), whole.find("</itemList>")}) {
    ASSERT_TRUE(WriteFileAtomic(bad, whole.substr(0, cut)));
    const auto loaded = list.Load(bad);
    ASSERT_FALSE(loaded);
    EXPECT_THAT(loaded.error().English(), HasSubstr("kaputt.xml"));
    EXPECT_THAT(loaded.error().English(), HasSubstr("not closed"));
  }
  for (const char* text : {"", "\x01\x02 binary", "<kavelo><item><name>Lose</name></item>"}) {
    ASSERT_TRUE(WriteFileAtomic(bad, text));
    const auto loaded = list.Load(bad);
    ASSERT_FALSE(loaded);
    EXPECT_THAT(loaded.error().English(), HasSubstr("no <itemList>"));
  }
  EXPECT_EQ(list.Products().size(), 2u);
  EXPECT_EQ(list.File(), good);
  // An empty list the register saved itself still loads.
  ASSERT_TRUE(WriteFileAtomic(bad, File("")));
  EXPECT_TRUE(list.Load(bad));
  EXPECT_TRUE(list.Products().empty());
}

TEST_F(ProductListTest, SaveNeedsAFileAndRemoveNeedsAnEntry) {
  EXPECT_FALSE(list.Save());
  TProd product;
  product.name = "Brot";
  list.Add(product);
  list.Add(product);
  EXPECT_FALSE(list.Remove(2));
  EXPECT_TRUE(list.Remove(0));
  ASSERT_TRUE(list.SaveAs(folder / "a.xml"));
  list.Add(product);
  ASSERT_TRUE(list.Save());
  ProductList again;
  ASSERT_TRUE(again.Load(folder / "a.xml"));
  EXPECT_EQ(again.Products().size(), 1u);  // duplicate names: the first one only
}

TEST(ShippedProductList, IsRealisticAndStableUnderSaving) {
  const fs::path file = DefaultProductFile(fs::path(KASSE_SOURCE_DIR) / "home");
  ProductList list;
  ASSERT_TRUE(list.Load(file));
  const auto& products = list.Products();
  EXPECT_GE(products.size(), 20u);
  EXPECT_LE(products.size(), 40u);
  std::set<int> containers;
  std::set<std::string> units;
  bool agency = false, delivery = false, voucher = false, mixed = false;
  for (const TProd& p : products) {
    int used = 0;
    for (int c = 0; c < 6; ++c) {
      if (p.price[static_cast<std::size_t>(c)] != 0) {
        containers.insert(c + 1);
        ++used;
      }
    }
    mixed |= used > 1;
    agency |= p.thirdparty;
    delivery |= p.deliverynote;
    voucher |= p.voucher;
    units.insert(p.unit);
  }
  EXPECT_GE(containers.size(), 4u);
  EXPECT_TRUE(units.count("kg") && units.count("l") &&
              units.count("St\xFC"
                          "ck"));
  EXPECT_TRUE(agency && delivery && voucher && mixed);
  // Written in the register's own format, so saving it changes no byte.
  EXPECT_EQ(ProductListText(products), ReadFile(file).value());
}

}  // namespace
}  // namespace kasse
