// The embedded images as the program carries them: each found under its name with the size
// the unit expects; a name the program does not carry is not found and hands out nothing.
#include <gtest/gtest.h>

#include "download/EmbeddedImages.h"

namespace {

TEST(EmbeddedImages, EachImageIsFoundWithItsSize) {
    for (const download::ImageSpec& spec :
         {download::kBootloaderImage, download::kSoftwareImage, download::kThreeAxisImage}) {
        download::ImageBytes image;
        ASSERT_EQ(download::FindEmbeddedImage(spec.name, &image), download::ImageLookup::Found) << spec.name;
        EXPECT_NE(image.data, nullptr) << spec.name;
        EXPECT_EQ(image.size, spec.size) << spec.name;
        EXPECT_TRUE(download::IsImageSize(image.size)) << spec.name;
    }
    download::ImageBytes unknown;
    EXPECT_EQ(download::FindEmbeddedImage("V410_4_AXIS_SOFTWARE", &unknown), download::ImageLookup::NotFound);
    EXPECT_EQ(unknown.data, nullptr);
    EXPECT_FALSE(download::IsImageSize(download::kBootloaderImage.size + 1));
}

}  // namespace
