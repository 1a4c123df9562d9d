#include "decoders/internal/icc_transform.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "decoders/internal/library_handle.h"

namespace vg::decoders::decoders_internal {
namespace {

// A LittleCMS profile, closed at the end of a scope.
using ProfileHandle = LibraryHandle<void, cmsCloseProfile>;

// What each IccInput is to LittleCMS: the colour space its profile must
// describe and the pixel format, in the order of the enumeration.
struct InputLayout {
  cmsColorSpaceSignature space;
  cmsUInt32Number format;
};
constexpr std::array<InputLayout, 4> kInputLayouts = {{
    {cmsSigRgbData, TYPE_BGRA_8},       // kBgrx
    {cmsSigCmykData, TYPE_CMYK_8},      // kCmyk
    {cmsSigCmykData, TYPE_CMYK_8_REV},  // kCmykInverted
    {cmsSigGrayData, TYPE_GRAY_8},      // kGray
}};
static_assert(static_cast<size_t>(IccInput::kGray) + 1 == kInputLayouts.size());

// Returns true when `transform` (from TYPE_BGRA_8 or TYPE_GRAY_8 to
// TYPE_BGRA_8) moves no sample by more than one level: every grey, each
// primary and secondary from black to full, and a 9 x 9 x 9 grid. The
// matrix-and-curves profiles that describe sRGB differ from LittleCMS's
// own only by rounding; any real change of primaries, white or tone curve
// moves some of these samples by several levels.
bool KeepsSamples(cmsHTRANSFORM transform, bool grey) {
  std::vector<uint8_t> bgrx;
  auto add = [&bgrx](int b, int g, int r) {
    bgrx.insert(bgrx.end(), {static_cast<uint8_t>(b), static_cast<uint8_t>(g),
                             static_cast<uint8_t>(r), 255});
  };
  for (int v = 0; v < 256; ++v) {
    add(v, v, v);
    if (grey) continue;
    add(0, 0, v);
    add(0, v, 0);
    add(v, 0, 0);
    add(0, v, v);
    add(v, v, 0);
    add(v, 0, v);
  }
  if (!grey) {
    constexpr int kSteps = 9;
    for (int b = 0; b < kSteps; ++b) {
      for (int g = 0; g < kSteps; ++g) {
        for (int r = 0; r < kSteps; ++r) {
          add(b * 255 / (kSteps - 1), g * 255 / (kSteps - 1),
              r * 255 / (kSteps - 1));
        }
      }
    }
  }
  const size_t count = bgrx.size() / 4;
  std::vector<uint8_t> in(bgrx);
  if (grey) {
    for (size_t i = 0; i < count; ++i) in[i] = bgrx[i * 4];
  }
  std::vector<uint8_t> out(bgrx.size());
  cmsDoTransform(transform, in.data(), out.data(),
                 static_cast<cmsUInt32Number>(count));
  for (size_t i = 0; i < count; ++i) {
    for (size_t c = 0; c < 3; ++c) {
      if (std::abs(out[i * 4 + c] - bgrx[i * 4 + c]) > 1) return false;
    }
  }
  return true;
}

// The profiles last found to describe sRGB's colours, by their bytes and
// the input they were asked for. A folder's photos mostly carry one
// profile, and telling that it is sRGB's takes LittleCMS a whole transform
// (tone curves sampled, tables built): a few milliseconds a picture, more
// than decoding a small photo. The answer depends on the bytes alone, so
// a profile seen before gives the very answer it gave then.
class SrgbProfiles {
 public:
  bool Has(std::span<const uint8_t> profile, IccInput input) {
    std::lock_guard lock(mutex_);
    for (const Entry& e : entries_) {
      if (e.input == input && std::equal(profile.begin(), profile.end(),
                                         e.bytes.begin(), e.bytes.end())) {
        return true;
      }
    }
    return false;
  }

  void Add(std::span<const uint8_t> profile, IccInput input) noexcept {
    if (profile.size() > kMaxBytes) return;
    try {
      Entry entry{input, {profile.begin(), profile.end()}};
      std::lock_guard lock(mutex_);
      if (entries_.size() == kMaxEntries) entries_.pop_front();
      entries_.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
      // Not remembered: told again next time.
    }
  }

 private:
  // At most 8 profiles of 64 KB: what it holds stays small beside any
  // picture. sRGB's own profiles are 0.5 to 7 KB.
  static constexpr size_t kMaxEntries = 8;
  static constexpr size_t kMaxBytes = size_t{64} << 10;

  struct Entry {
    IccInput input;
    std::vector<uint8_t> bytes;
  };
  std::mutex mutex_;
  std::deque<Entry> entries_;
};

SrgbProfiles& KnownSrgbProfiles() {
  static SrgbProfiles profiles;
  return profiles;
}

}  // namespace

IccTransform::IccTransform(IccTransform&& other) noexcept
    : transform_(std::exchange(other.transform_, nullptr)),
      srgb_(std::exchange(other.srgb_, false)) {}

IccTransform& IccTransform::operator=(IccTransform&& other) noexcept {
  if (this != &other) {
    if (transform_ != nullptr) cmsDeleteTransform(transform_);
    transform_ = std::exchange(other.transform_, nullptr);
    srgb_ = std::exchange(other.srgb_, false);
  }
  return *this;
}

IccTransform::~IccTransform() {
  if (transform_ != nullptr) cmsDeleteTransform(transform_);
}

IccTransform IccTransform::ToSrgb(std::span<const uint8_t> profile,
                                  IccInput input) {
  IccTransform result;
  if (profile.empty() || profile.size() > UINT32_MAX) return result;
  if (KnownSrgbProfiles().Has(profile, input)) {
    result.srgb_ = true;
    return result;
  }
  ProfileHandle source(cmsOpenProfileFromMem(
      profile.data(), static_cast<cmsUInt32Number>(profile.size())));
  if (source.get() == nullptr) return result;
  // Held as a plain number: a profile may name a colour space that the
  // enumeration does not list, and such a value must not live in the enum.
  const auto space = static_cast<uint32_t>(cmsGetColorSpace(source.get()));
  const InputLayout& layout = kInputLayouts[static_cast<size_t>(input)];
  if (space != static_cast<uint32_t>(layout.space)) return result;
  const cmsUInt32Number in_format = layout.format;
  ProfileHandle srgb(cmsCreate_sRGBProfile());
  if (srgb.get() == nullptr) return result;
  result.transform_ = cmsCreateTransform(source.get(), in_format, srgb.get(),
                                         TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
  if (result.transform_ != nullptr && input != IccInput::kCmyk &&
      input != IccInput::kCmykInverted &&
      KeepsSamples(result.transform_, input == IccInput::kGray)) {
    cmsDeleteTransform(result.transform_);
    result.transform_ = nullptr;
    result.srgb_ = true;
    KnownSrgbProfiles().Add(profile, input);
  }
  return result;
}

void IccTransform::Convert(const uint8_t* in, uint8_t* out,
                           int32_t count) const noexcept {
  if (transform_ == nullptr || count <= 0) return;
  cmsDoTransform(transform_, in, out, static_cast<cmsUInt32Number>(count));
  // The transform leaves the 4th byte alone: no alpha comes in.
  for (int32_t i = 0; i < count; ++i) out[i * 4 + 3] = 255;
}

}  // namespace vg::decoders::decoders_internal
