#include "platform/foundation/plist.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/test_device_root.h"

namespace {

using foundation::makeString;
using testing_support::TempDir;

// A hand-made binary property list: each object's bytes (references in 4
// bytes), then the offset table (4-byte entries) and the trailer.
std::string assembleBinary(const std::vector<std::string>& objects, uint64_t top = 0) {
  auto be = [](std::string* out, uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  };
  std::string out = "bplist00";
  std::vector<uint64_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  uint64_t table = out.size();
  for (uint64_t o : offsets) be(&out, o, 4);
  out.append(6, '\0');
  out.push_back(4);  // offset size
  out.push_back(4);  // reference size
  be(&out, objects.size(), 8);
  be(&out, top, 8);
  be(&out, table, 8);
  return out;
}

std::string arrayObject(const std::vector<uint32_t>& refs) {
  auto be32 = [](std::string* out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  };
  std::string out;
  if (refs.size() < 15) {
    out.push_back(static_cast<char>(0xA0 | refs.size()));
  } else {  // the count follows as a 4-byte integer object
    out += "\xAF\x12";
    be32(&out, static_cast<uint32_t>(refs.size()));
  }
  for (uint32_t r : refs) be32(&out, r);
  return out;
}

const std::string kLeaf = "\x51x";  // the one-character string "x"

// Arrays nested `levels` deep around one string.
std::string chainOfArrays(int levels) {
  std::vector<std::string> objects;
  for (int i = 0; i < levels; ++i) objects.push_back(arrayObject({static_cast<uint32_t>(i + 1)}));
  objects.push_back(kLeaf);
  return assembleBinary(objects);
}

std::string nestedXml(int levels) {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < levels; ++i) xml += "<array>";
  xml += "<string>x</string>";
  for (int i = 0; i < levels; ++i) xml += "</array>";
  return xml + "</plist>";
}

id entry(id dict, const char* key) { return msg<id>(dict, "objectForKey:"_sel, makeString(key)); }

// A list with every kind of value, nested.
Strong<NSDictionary> sampleGraph() {
  auto inner = foundation::newDictionary(true);
  msg<void>(inner, "setObject:forKey:"_sel, foundation::newDate(1234.5).get(), "date"_ns);
  msg<void>(inner, "setObject:forKey:"_sel, foundation::newData({0, 1, 0, 255}).get(), "data"_ns);
  auto list = foundation::newArray({makeString("a"), foundation::realNumber(0.25), inner.get()});
  auto dict = foundation::newDictionary(true);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::trueValue(), "yes"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::falseValue(), "no"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(-5), "negative"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(LLONG_MIN), "min"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, foundation::integerNumber(LLONG_MAX), "max"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, makeString("Use your passcode"), "text"_ns);
  msg<void>(dict, "setObject:forKey:"_sel, list.get(), "list"_ns);
  return dict;
}

TEST(PlistValues, EveryKindSurvivesTheBinaryFormat) {
  objc::AutoreleasePool pool;
  std::string bytes;
  ASSERT_EQ(plist::toBinary(sampleGraph(), &bytes), "");
  ASSERT_EQ(bytes.rfind("bplist00", 0), 0u);
  plist::Result r = plist::parse(bytes);
  ASSERT_EQ(r.error, "");
  ASSERT_TRUE(foundation::isDictionary(r.value));
  EXPECT_TRUE(msg<BOOL>(r.value, "isEqual:"_sel, sampleGraph().get()));

  // Booleans come back as the shared true and false, integers as integers.
  EXPECT_EQ(entry(r.value, "yes"), foundation::trueValue());
  EXPECT_EQ(entry(r.value, "no"), foundation::falseValue());
  auto* negative = static_cast<NSNumber*>(entry(r.value, "negative"));
  EXPECT_EQ(negative->kind, NSNumber::Kind::kInteger);
  EXPECT_EQ(negative->integer, -5);
  EXPECT_EQ(static_cast<NSNumber*>(entry(r.value, "min"))->integer, LLONG_MIN);
  EXPECT_EQ(static_cast<NSNumber*>(entry(r.value, "max"))->integer, LLONG_MAX);
  // Parsed collections are immutable.
  EXPECT_FALSE(msg<BOOL>(r.value, "respondsToSelector:"_sel, "setObject:forKey:"_sel));
}

TEST(PlistValues, XmlIsReadWithThePlatformsTypes) {
  objc::AutoreleasePool pool;
  const char* xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <!-- <array> in a comment does not nest -->
  <key>enabled</key><true/>
  <key>hiddenItemCount</key><integer>-42</integer>
  <key>scale</key><real>1.5</real>
  <key>name</key><string>Velmo &amp; co</string>
  <key>blob</key><data>AAEC</data>
  <key>when</key><date>2001-01-01T00:01:00Z</date>
  <key>items</key><array/>
  <key>name</key><string>second</string>
</dict>
</plist>)";
  plist::Result r = plist::parse(xml);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(entry(r.value, "enabled"), foundation::trueValue());
  EXPECT_EQ(msg<long long>(entry(r.value, "hiddenItemCount"), "longLongValue"_sel), -42);
  EXPECT_DOUBLE_EQ(msg<double>(entry(r.value, "scale"), "doubleValue"_sel), 1.5);
  EXPECT_EQ(static_cast<NSData*>(entry(r.value, "blob"))->bytes, (std::vector<uint8_t>{0, 1, 2}));
  EXPECT_DOUBLE_EQ(static_cast<NSDate*>(entry(r.value, "when"))->sinceReferenceDate, 60.0);
  EXPECT_EQ(msg<unsigned long>(entry(r.value, "items"), "count"_sel), 0u);
  // A repeated key keeps its last value, once.
  EXPECT_EQ(foundation::stdString(entry(r.value, "name")), "second");
  EXPECT_EQ(msg<unsigned long>(r.value, "count"_sel), 7u);
}

TEST(PlistLimits, NestingIsBoundedInBothFormats) {
  objc::AutoreleasePool pool;
  EXPECT_EQ(plist::parse(nestedXml(plist::kMaxDepth - 1)).error, "");
  EXPECT_NE(plist::parse(nestedXml(plist::kMaxDepth + 1)).error.find("nested deeper"),
            std::string::npos);
  EXPECT_EQ(plist::parse(chainOfArrays(plist::kMaxDepth - 1)).error, "");
  EXPECT_NE(plist::parse(chainOfArrays(plist::kMaxDepth)).error.find("nested deeper"),
            std::string::npos);
  // Far deeper than any stack would take if followed recursively.
  EXPECT_NE(plist::parse(chainOfArrays(100000)).error, "");
  EXPECT_NE(plist::parse(nestedXml(60000)).error, "");
}

TEST(PlistLimits, SharedReferencesCannotBlowUpAndCyclesAreRefused) {
  objc::AutoreleasePool pool;
  // Each array refers twice to the next: 60 objects that would expand to 2^60 values.
  std::vector<std::string> objects;
  for (uint32_t i = 0; i < 60; ++i) objects.push_back(arrayObject({i + 1, i + 1}));
  objects.push_back(kLeaf);
  auto start = std::chrono::steady_clock::now();
  EXPECT_NE(plist::parse(assembleBinary(objects)).error.find("expands past"), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // Sharing that stays under the bound but would still cost seconds to expand:
  // 17 levels of double references, 2^17 values from a few hundred bytes.
  objects.clear();
  for (uint32_t i = 0; i < 17; ++i) objects.push_back(arrayObject({i + 1, i + 1}));
  objects.push_back(kLeaf);
  EXPECT_NE(plist::parse(assembleBinary(objects)).error.find("expands past 65536"),
            std::string::npos);

  // A little sharing is fine.
  plist::Result shared = plist::parse(assembleBinary({arrayObject({1, 1}), kLeaf}));
  ASSERT_EQ(shared.error, "");
  EXPECT_EQ(msg<unsigned long>(shared.value, "count"_sel), 2u);

  EXPECT_NE(plist::parse(assembleBinary({arrayObject({0})})).error, "");
  EXPECT_NE(plist::parse(assembleBinary({arrayObject({1}), arrayObject({0})})).error, "");
  EXPECT_NE(plist::parse(assembleBinary({arrayObject({7})})).error, "");  // no object 7
}

// Writers store an equal string, number or boolean once and refer to it from
// everywhere: a large ordinary file has far more references than objects.
// Only a shared container multiplies what the file expands to.
TEST(PlistLimits, SharedValuesOfLargeOrdinaryFilesAreReadOnlySharedContainersAreBounded) {
  objc::AutoreleasePool pool;
  // [True] * 200000, as Python's plistlib writes it: one array, one true.
  // Read in time proportional to its length, not its length squared.
  std::vector<uint32_t> trues(200000, 1);
  const std::string long_array = assembleBinary({arrayObject(trues), "\x09"});
  auto start = std::chrono::steady_clock::now();
  plist::Result many = plist::parse(long_array);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ASSERT_EQ(many.error, "");
  EXPECT_EQ(msg<unsigned long>(many.value, "count"_sel), 200000u);

  // A photo library of 20,000 albums, written by this library: the keys, the
  // kind and the counts are each stored once.
  auto albums = foundation::newArray({}, true);
  for (int i = 0; i < 20000; ++i) {
    auto album = foundation::newDictionary(true);
    msg<void>(album, "setObject:forKey:"_sel, makeString("Album " + std::to_string(i)), "Title"_ns);
    msg<void>(album, "setObject:forKey:"_sel, foundation::integerNumber(i % 10), "Count"_ns);
    msg<void>(album, "setObject:forKey:"_sel, makeString("user"), "Kind"_ns);
    msg<void>(albums, "addObject:"_sel, album.get());
  }
  auto library = foundation::newDictionary(true);
  msg<void>(library, "setObject:forKey:"_sel, albums.get(), "Albums"_ns);
  std::string bytes;
  ASSERT_EQ(plist::toBinary(library, &bytes), "");
  ASSERT_LT(bytes.size(), plist::kMaxFileSize);
  plist::Result read = plist::parse(bytes);
  ASSERT_EQ(read.error, "");
  EXPECT_TRUE(msg<BOOL>(read.value, "isEqual:"_sel, library.get()));

  // Those references do not pay for what a shared container adds: 12 levels
  // of double references beside them (8,191 values from 12 arrays) are
  // refused, the bound being one value per reference.
  std::vector<uint32_t> refs(70000, 1);
  refs.push_back(2);
  std::vector<std::string> objects = {arrayObject(refs), kLeaf};
  const uint32_t levels = 12;
  for (uint32_t i = 2; i < 2 + levels; ++i) objects.push_back(arrayObject({i + 1, i + 1}));
  objects.push_back(kLeaf);
  const std::string bound = std::to_string(1 + refs.size() + 2 * levels);
  EXPECT_EQ(plist::parse(assembleBinary(objects)).error,
            "binary property list that expands past " + bound + " values");
}

TEST(PlistLimits, GarbageAndDamagedFilesAreErrorsNeverCrashes) {
  objc::AutoreleasePool pool;
  std::string binary;
  ASSERT_EQ(plist::toBinary(sampleGraph(), &binary), "");
  const std::string xml = nestedXml(3);
  std::mt19937 rng(20240601);

  for (const std::string& valid : {binary, xml}) {
    for (size_t n = 0; n < valid.size(); ++n) {
      plist::Result r = plist::parse(valid.substr(0, n));
      EXPECT_EQ(r.value == nullptr, !r.error.empty());
    }
    for (int round = 0; round < 3000; ++round) {
      std::string damaged = valid;
      int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) damaged[rng() % damaged.size()] = static_cast<char>(rng());
      plist::Result r = plist::parse(damaged);
      EXPECT_EQ(r.value == nullptr, !r.error.empty());
    }
  }
  for (int round = 0; round < 2000; ++round) {
    std::string noise(rng() % 200, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    if (round % 2 == 0) noise = "bplist00" + noise;
    plist::Result r = plist::parse(noise);
    EXPECT_EQ(r.value == nullptr, !r.error.empty());
  }
  EXPECT_EQ(plist::parse("").error, "empty property list");
  EXPECT_EQ(plist::parse("just text").error, "not a property list");
}

TEST(PlistFiles, OversizedFilesAreRefusedAndWritesLeaveNoTrace) {
  objc::AutoreleasePool pool;
  TempDir dir;
  {
    std::ofstream big(dir / "big.plist");
    big << "<plist><array>";
    while (big.tellp() < static_cast<std::streamoff>(plist::kMaxFileSize))
      big << "<string>padding</string>";
    big << "</array></plist>";
  }
  plist::Result big = plist::readFile(dir / "big.plist");
  EXPECT_NE(big.error.find("larger than"), std::string::npos);
  EXPECT_NE(plist::readFile(dir / "missing.plist").error.find("no such file"), std::string::npos);

  ASSERT_EQ(plist::writeFile(dir / "good.plist", sampleGraph()), "");
  // Objects a list cannot hold fail the write and leave the old file alone.
  auto bad = foundation::newDictionary(true);
  msg<void>(bad, "setObject:forKey:"_sel, allocInit(objc::nsobjectClass()).get(), "object"_ns);
  EXPECT_NE(plist::writeFile(dir / "good.plist", bad), "");
  auto loop = foundation::newArray({}, true);
  msg<void>(loop, "addObject:"_sel, loop.get());
  EXPECT_FALSE(plist::toNode(loop));
  loop->items.clear();  // break the cycle so the array can go
  auto numberKey = foundation::newDictionary(true);
  msg<void>(numberKey, "setObject:forKey:"_sel, makeString("v"), foundation::integerNumber(1));
  EXPECT_FALSE(plist::toNode(numberKey));

  plist::Result good = plist::readFile(dir / "good.plist");
  ASSERT_EQ(good.error, "");
  EXPECT_TRUE(msg<BOOL>(good.value, "isEqual:"_sel, sampleGraph().get()));
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2);  // big.plist and good.plist, no temporary files
}

}  // namespace
