// The desktop's thumbnail cache: names as GLib and GNOME make them, entries
// fitted in their box and readable by their text, and whole runs that fill
// the cache, leave valid entries alone and mark what they could not read.
#include "thumbnail/desktop_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "decoders/decode_picture.h"
#include "platform/code_page.h"
#include "thumbnail/engine.h"
#include "thumbnail/png_thumbnail.h"

namespace vg::thumbnail {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using testing::WriteJpeg;

TEST(DesktopCacheTest, UrisAreEscapedAsGlibEscapesThem) {
  const struct {
    std::string path, uri;
  } cases[] = {
      {"/tmp/a.jpg", "file:///tmp/a.jpg"},
      {"/tmp/clip art é.wmf", "file:///tmp/clip%20art%20%C3%A9.wmf"},
      {"/x/#1 100%?.jpg", "file:///x/%231%20100%25%3F.jpg"},
      {"/x/a;b[c]{d}<e>|^`\".png",
       "file:///x/a%3Bb%5Bc%5D%7Bd%7D%3Ce%3E%7C%5E%60%22.png"},
      {"/x/!$&'()*+,=:@~_-.png", "file:///x/!$&'()*+,=:@~_-.png"},
      {"/x/\xE9t\xE9.jpg", "file:///x/%E9t%E9.jpg"},  // Latin-1 bytes kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileUri(c.path), c.uri) << c.path;
    EXPECT_EQ(PathFromFileUri(c.uri), c.path) << c.uri;
  }
  EXPECT_EQ(PathFromFileUri("file://localhost/a%20b"), "/a b");
  EXPECT_EQ(PathFromFileUri("FILE:///a"), "/a");
  for (const char* bad : {"http://host/a.jpg", "file://other/a", "file:///a%2",
                          "file:///a%zz", "file:///a%00b", "file://", "/a"}) {
    EXPECT_EQ(PathFromFileUri(bad), "") << bad;
  }
}

TEST(DesktopCacheTest, MimeTypesComeFromTheNameElseFromTheFirstBytes) {
  const std::string tiff("II*\0", 4);
  const struct {
    std::string path, first_bytes, mime_type;
  } cases[] = {
      {"/p/a.jpg", "", "image/jpeg"},
      {"/p/A.JPE", "", "image/jpeg"},
      {"/p/a.png", "\xFF\xD8\xFF", "image/png"},  // the name wins
      {"/p/a.dib", "", "image/bmp"},
      {"/p/a.cur", "", "image/x-win-bitmap"},
      {"/p/a.tiff", "", "image/tiff"},
      {"/p/a.hif", "", "image/heif"},
      {"/p/a.avif", "", "image/avif"},
      {"/p/a.raw", tiff, "image/x-panasonic-rw"},
      {"/p/a.k25", tiff, "image/x-kodak-k25"},
      {"/p/a.emf", "", "image/emf"},
      {"/p/a.srw", tiff, "image/tiff"},  // no glob: the bytes decide
      {"/p/a.jpg.txt", "GIF89a", "image/gif"},
      {"/p.png/a", "\x89PNG\r\n\x1A\n", "image/png"},
      {"/p/.jpg", "", ""},
      {"/p/a", "text", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PictureMimeType(c.path, c.first_bytes), c.mime_type) << c.path;
  }
  EXPECT_TRUE(IsPictureTypeWeRead("image/x-kodak-dcr"));
  EXPECT_FALSE(IsPictureTypeWeRead("image/svg+xml"));
  EXPECT_FALSE(IsPictureTypeWeRead(""));
}

TEST(DesktopCacheTest, EntryNamesAreTheMd5OfTheUri) {
  // As GNOME's thumbnail factory named a failure entry of this URI.
  EXPECT_EQ(CacheEntryName("file:///tmp/gt/broken.jpg"),
            "d6ad5a2979955fd2e77512552f095492.png");
  // RFC 1321's vectors, and lengths about the 56- and 64-byte edges.
  const struct {
    std::string text;
    const char* md5;
  } vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"12345678901234567890123456789012345678901234567890123456789012345678"
       "901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ(CacheEntryName(v.text), std::string(v.md5) + ".png")
        << v.text.size() << " bytes";
  }
}

TEST(DesktopCacheTest, PathsAreMadeAbsoluteAndTidied) {
  const struct {
    std::string in, out;
  } cases[] = {{"/a/./b/../c", "/a/c"},
               {"//x//y/", "/x/y"},
               {"/..", "/"},
               {"/a/b/../../..", "/"},
               {"/", "/"}};
  for (const auto& c : cases) EXPECT_EQ(AbsolutePath(c.in), c.out) << c.in;
  EXPECT_EQ(AbsolutePath("x/../y"), fs::current_path().string() + "/y");
}

TEST(DesktopCacheTest, SizesAreReadInTheStandardsOrder) {
  std::vector<CacheSize> sizes;
  ASSERT_EQ(ParseCacheSizes("xx-large,normal,normal", &sizes), "");
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0].folder, "normal");
  EXPECT_EQ(sizes[0].pixels, 128);
  EXPECT_EQ(sizes[1].pixels, 1024);
  for (const char* bad : {"", "huge", "normal,", "Large"}) {
    EXPECT_NE(ParseCacheSizes(bad, &sizes), "") << bad;
  }
}

TEST(DesktopCacheTest, PicturesFitTheirBoxNeverEnlarged) {
  const struct {
    int32_t w, h, box, out_w, out_h;
  } cases[] = {
      {4000, 3000, 256, 256, 192},
      {3000, 4000, 256, 192, 256},
      {100, 50, 256, 100, 50},
      {10000, 1, 128, 128, 1},
      {8, 3, 4, 4, 2},
      {8, 5, 4, 4, 2},  // 1.5 and 2.5: to even
      {256, 256, 128, 128, 128},
      {0, 10, 128, 0, 0},
  };
  for (const auto& c : cases) {
    const PixelSize size = FitInBox(c.w, c.h, c.box);
    EXPECT_EQ(size.width, c.out_w) << c.w << "x" << c.h << " in " << c.box;
    EXPECT_EQ(size.height, c.out_h) << c.w << "x" << c.h << " in " << c.box;
  }
}

decoders::DecodedImage Image(int32_t w, int32_t h, bool alpha) {
  decoders::DecodedImage image;
  image.width = image.pixel_width = w;
  image.height = image.pixel_height = h;
  image.stride_bytes = w * 4;
  image.has_alpha = alpha;
  image.bgrx.resize(static_cast<size_t>(w) * h * 4);
  return image;
}

TEST(DesktopCacheTest, TransparentPixelsLendNoColourWhenScaled) {
  // Opaque red on the left, transparent green on the right.
  decoders::DecodedImage image = Image(64, 32, true);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 64; ++x) {
      uint8_t* px = &image.bgrx[(static_cast<size_t>(y) * 64 + x) * 4];
      const bool left = x < 32;
      px[0] = 0;
      px[1] = left ? 0 : 255;
      px[2] = left ? 255 : 0;
      px[3] = left ? 255 : 0;
    }
  }
  const BoxThumbnail thumb = ScaleIntoBox(image, 16, true);
  ASSERT_EQ(thumb.width, 16);
  ASSERT_EQ(thumb.height, 8);
  ASSERT_TRUE(thumb.has_alpha);
  for (int x = 0; x < 16; ++x) {
    const uint8_t* px = &thumb.pixels[(4 * 16 + x) * 4];
    if (px[3] > 0) {
      EXPECT_GE(px[0], 250) << "x " << x;  // red, however transparent
      EXPECT_LE(px[1], 5) << "x " << x;
    }
  }
  EXPECT_EQ(thumb.pixels[(4 * 16 + 0) * 4 + 3], 255);
  EXPECT_EQ(thumb.pixels[(4 * 16 + 15) * 4 + 3], 0);

  decoders::DecodedImage flat = Image(50, 20, false);
  for (size_t i = 0; i < flat.bgrx.size(); i += 4) {
    flat.bgrx[i] = 10, flat.bgrx[i + 1] = 120, flat.bgrx[i + 2] = 230;
  }
  const BoxThumbnail rgb = ScaleIntoBox(flat, 20, false);
  ASSERT_EQ(rgb.pixels.size(), size_t{20} * 8 * 3);
  for (size_t i = 0; i < rgb.pixels.size(); i += 3) {
    ASSERT_EQ(rgb.pixels[i], 230);
    ASSERT_EQ(rgb.pixels[i + 1], 120);
    ASSERT_EQ(rgb.pixels[i + 2], 10);
  }
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(DesktopCacheTest, EntriesAreKnownByTheirUriAndTime) {
  TempFolder dir;
  const fs::path entry = dir.path() / "e.png";
  BoxThumbnail thumb;
  thumb.width = 3;
  thumb.height = 2;
  thumb.pixels.assign(18, 77);
  const CacheSource source{"file:///p/a%20b.jpg", 1700000000, 1234,
                           "image/jpeg"};
  ASSERT_EQ(WritePng(thumb, entry, EntryText(source, 30, 20), 0600, false), "");
  EXPECT_EQ(ModeOf(entry), 0600u);
  EXPECT_TRUE(EntryIsValid(entry, source.uri, source.mtime_seconds));
  EXPECT_FALSE(EntryIsValid(entry, source.uri, source.mtime_seconds + 1));
  EXPECT_FALSE(EntryIsValid(entry, "file:///p/a%20c.jpg", 1700000000));
  EXPECT_FALSE(EntryIsValid(dir.path() / "missing.png", source.uri, 1));
  // Our own PNG reader sees the pixels.
  const decoders::DecodedImage back =
      decoders::DecodePictureFile(platform::FromAnsi(entry.string()));
  EXPECT_EQ(back.width, 3);
  EXPECT_EQ(back.bgrx[0], 77);
}

// A folder of pictures and a cache root, both private to the test.
struct CacheRun {
  TempFolder origin;
  TempFolder cache;
  std::string root() const { return cache.path().string() + "/thumbnails/"; }
  Job MakeJob() const {
    Job job;
    job.listing = platform::FromAnsi(origin.path().string() + "/");
    job.load_prefix = job.listing;
    job.cache_root = platform::FromAnsi(root());
    job.sets = {{platform::FromAnsi(root() + "normal/"), 128},
                {platform::FromAnsi(root() + "large/"), 256}};
    job.jobs = 2;
    return job;
  }
  std::string EntryOf(const std::string& name, const char* size) const {
    return root() + size + "/" +
           CacheEntryName(FileUri((origin.path() / name).string()));
  }
};

int64_t MTimeSeconds(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mtim.tv_sec;
}

TEST(DesktopCacheTest, ARunFillsEverySizeFromOneDecodeAndMarksFailures) {
  CacheRun run;
  WriteJpeg(run.origin.path() / "wide photo.jpg", 600, 300);
  WriteJpeg(run.origin.path() / "tall.jpg", 90, 180);
  std::ofstream(run.origin.path() / "broken.jpg") << "not a picture";
  std::ofstream(run.origin.path() / "notes.txt") << "not a picture either";
  const Summary summary = thumbnail::Run(run.MakeJob());
  EXPECT_EQ(summary.written, 2u);
  EXPECT_EQ(summary.failed, 2u);

  const struct {
    const char* name;
    const char* size;
    int w, h;
  } entries[] = {{"wide photo.jpg", "normal", 128, 64},
                 {"wide photo.jpg", "large", 256, 128},
                 {"tall.jpg", "normal", 64, 128},
                 {"tall.jpg", "large", 90, 180}};
  for (const auto& e : entries) {
    const std::string path = run.EntryOf(e.name, e.size);
    const fs::path picture = run.origin.path() / e.name;
    EXPECT_TRUE(
        EntryIsValid(path, FileUri(picture.string()), MTimeSeconds(picture)))
        << e.name << " " << e.size;
    EXPECT_EQ(ModeOf(path), 0600u);
    const decoders::DecodedImage image =
        decoders::DecodePictureFile(platform::FromAnsi(path));
    EXPECT_EQ(image.width, e.w) << e.name << " " << e.size;
    EXPECT_EQ(image.height, e.h) << e.name << " " << e.size;
  }
  for (const char* folder : {"", "normal", "large", "fail", "fail/vignettes",
                             "fail/gnome-thumbnail-factory"}) {
    EXPECT_EQ(ModeOf(run.root() + folder), 0700u) << folder;
  }
  // Both failures are ours to remember; only the file of a picture type
  // we read is one the desktop need not try again with another program.
  for (const char* name : {"broken.jpg", "notes.txt"}) {
    const std::string uri = FileUri((run.origin.path() / name).string());
    const int64_t mtime = MTimeSeconds(run.origin.path() / name);
    EXPECT_TRUE(EntryIsValid(run.root() + kOwnFailFolder + CacheEntryName(uri),
                             uri, mtime))
        << name;
    EXPECT_EQ(fs::exists(run.root() + kDesktopFailFolder + CacheEntryName(uri)),
              std::string(name) == "broken.jpg")
        << name;
  }
}

TEST(DesktopCacheTest, AnUpdateRemakesOnlyTheEntriesThatAreNoLongerValid) {
  CacheRun run;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
    WriteJpeg(run.origin.path() / name, 300, 200);
  }
  Job job = run.MakeJob();
  ASSERT_EQ(thumbnail::Run(job).written, 3u);
  // b.jpg changes (a later time); c.jpg's large entry is lost.
  const fs::path b = run.origin.path() / "b.jpg";
  fs::last_write_time(b, fs::last_write_time(b) + std::chrono::seconds(5));
  fs::remove(run.EntryOf("c.jpg", "large"));
  const auto inode = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
  };
  const ino_t a_entry = inode(run.EntryOf("a.jpg", "normal"));
  const ino_t c_entry = inode(run.EntryOf("c.jpg", "normal"));
  job.update = true;
  const Summary summary = thumbnail::Run(job);
  EXPECT_EQ(summary.up_to_date, 1u);
  EXPECT_EQ(summary.written, 2u);
  // Each entry is a new file when written: valid ones keep their inode,
  // c.jpg's normal entry too.
  EXPECT_EQ(inode(run.EntryOf("a.jpg", "normal")), a_entry);
  EXPECT_EQ(inode(run.EntryOf("c.jpg", "normal")), c_entry);
  EXPECT_TRUE(EntryIsValid(run.EntryOf("b.jpg", "normal"), FileUri(b.string()),
                           MTimeSeconds(b)));
  EXPECT_TRUE(fs::exists(run.EntryOf("c.jpg", "large")));
}

TEST(DesktopCacheTest, SharesOfARunMakeTheWholeRun) {
  CacheRun run;
  for (int i = 0; i < 12; ++i) {
    WriteJpeg(run.origin.path() / ("p" + std::to_string(i) + ".jpg"), 64, 48);
  }
  size_t made = 0;
  for (uint64_t k = 0; k < 3; ++k) {
    Job job = run.MakeJob();
    job.shard = {k, 3};
    made += thumbnail::Run(job).written;
  }
  EXPECT_EQ(made, 12u);
  for (int i = 0; i < 12; ++i) {
    EXPECT_TRUE(
        fs::exists(run.EntryOf("p" + std::to_string(i) + ".jpg", "normal")));
  }
}

}  // namespace
}  // namespace vg::thumbnail
