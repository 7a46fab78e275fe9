// The Objective-C metadata of an image, mapped at load as the phone's
// runtime maps it: on an image compiled as Objective-C, and on copies of it
// whose metadata is damaged or missing.
#include "tests/phone/objc_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/phone/phone_fixture.h"

namespace velmo::phone {
namespace {

using ::testing::HasSubstr;

class ObjcImageTest : public PhoneTest {
 protected:
  void SetUp() override {
    PhoneTest::SetUp();
    bytes_ = ReadFileBytes(ImagePath("objc_refs.dylib"));
  }

  // The file offset of a section's contents, from the segment that holds it.
  size_t SectionOffset(const std::string& name) const {
    MachOImage image = MachOImage::Parse(bytes_);
    const MachOSection* s = nullptr;
    for (const MachOSection& candidate : image.sections)
      if (candidate.name == name) s = &candidate;
    EXPECT_NE(s, nullptr) << name;
    const MachOSegment* segment = image.SegmentAt(s->address);
    return segment->file_offset + (s->address - segment->address);
  }

  // Renames every "__objc_imageinfo" section name in the load commands.
  void RenameImageInfo() {
    const std::string from = "__objc_imageinfo";
    auto at = std::search(bytes_.begin(), bytes_.end(), from.begin(), from.end());
    ASSERT_NE(at, bytes_.end());
    *(at + from.size() - 1) = 'x';
  }

  // The image mapped and bound but its metadata not yet mapped.
  LoadedImage Bound() {
    return LoadImage(phone.emu, "objc_refs.dylib", bytes_, 0x7000000000,
                     [this](const std::string& symbol) {
                       auto address = phone.objc.Resolve(symbol);
                       return address ? address : ObjcClassSymbol(phone.objc, symbol);
                     });
  }

  static uint64_t FirstSlot(const LoadedImage& image, const std::string& section) {
    for (const MachOSection& s : image.image.sections)
      if (s.name == section) return image.Slid(s.address);
    ADD_FAILURE() << "no section " << section;
    return 0;
  }

  std::vector<uint8_t> bytes_;
};

TEST_F(ObjcImageTest, SelectorReferencesBecomeTheUniqueSelectorsAndClassReferencesTheClasses) {
  LoadedImage& image = phone.LoadBytes("objc_refs.dylib", bytes_);
  EXPECT_EQ(phone.CallExport(image, "_refs_selector").x0, phone.objc.Sel("alloc"));
  // The same name in a second image is the same selector.
  LoadedImage& again = phone.LoadBytes("objc_refs_again.dylib", bytes_);
  EXPECT_EQ(phone.CallExport(again, "_refs_selector").x0, phone.objc.Sel("alloc"));

  uint64_t object = phone.CallExport(image, "_refs_alloc").x0;
  ASSERT_TRUE(phone.objc.IsKindOf(object, "NSObject"));
  phone.objc.Release(object);
}

TEST_F(ObjcImageTest, AWeakClassReferenceIsNilWithoutTheClassAndTheClassWithIt) {
  LoadedImage& image = phone.LoadBytes("objc_refs.dylib", bytes_);
  EXPECT_EQ(phone.CallExport(image, "_refs_alloc_missing").x0, 0u);

  PhoneModel other;
  other.objc.DefineClass("ProbeMissingClass");
  LoadedImage& with_class = other.LoadBytes("objc_refs.dylib", bytes_);
  uint64_t object = other.CallExport(with_class, "_refs_alloc_missing").x0;
  EXPECT_TRUE(other.objc.IsKindOf(object, "ProbeMissingClass"));
  other.objc.Release(object);
}

TEST_F(ObjcImageTest, WithoutImageInfoTheReferencesKeepTheirNamesAndASendFails) {
  RenameImageInfo();
  LoadedImage& image = phone.LoadBytes("objc_refs.dylib", bytes_);
  uint64_t sel = phone.CallExport(image, "_refs_selector").x0;
  EXPECT_FALSE(phone.objc.IsSel(sel));
  EXPECT_EQ(phone.emu.ReadCString(sel), "alloc");
  try {
    phone.CallExport(image, "_refs_alloc");
    ADD_FAILURE() << "a send with a name for a selector ran";
  } catch (const EmulationError& e) {
    EXPECT_THAT(e.what(), HasSubstr("which is not a selector"));
  }
}

TEST_F(ObjcImageTest, DamagedMetadataIsRefusedNamingTheSlot) {
  {
    LoadedImage image = Bound();
    phone.emu.Write64(FirstSlot(image, "__objc_selrefs"), 0x10);
    try {
      MapObjcMetadata(phone.objc, image);
      ADD_FAILURE() << "a selector reference outside the image was mapped";
    } catch (const ModelError& e) {
      EXPECT_THAT(e.what(), HasSubstr("the selector reference at"));
      EXPECT_THAT(e.what(), HasSubstr("points outside the image"));
    }
  }
  PhoneModel other;
  LoadedImage image = LoadImage(other.emu, "objc_refs.dylib", bytes_, 0x7000000000,
                                [&](const std::string& s) { return other.objc.Resolve(s); });
  // NSObject's reference was bound to nothing the loader knew: a poison
  // address, which is no class.
  EXPECT_THAT(image.missing_imports, ::testing::Contains("_OBJC_CLASS_$_NSObject"));
  try {
    MapObjcMetadata(other.objc, image);
    ADD_FAILURE() << "a class reference to a missing import was mapped";
  } catch (const ModelError& e) {
    EXPECT_THAT(e.what(), HasSubstr("the missing import _OBJC_CLASS_$_NSObject"));
  }
}

TEST_F(ObjcImageTest, ImageInfoOfAnotherVersionIsRefused) {
  uint32_t version = 1;
  memcpy(bytes_.data() + SectionOffset("__objc_imageinfo"), &version, sizeof version);
  try {
    phone.LoadBytes("objc_refs.dylib", bytes_);
    ADD_FAILURE() << "image info of version 1 was taken";
  } catch (const ModelError& e) {
    EXPECT_THAT(e.what(), HasSubstr("__objc_imageinfo has version 1, not 0"));
  }
}

}  // namespace
}  // namespace velmo::phone
