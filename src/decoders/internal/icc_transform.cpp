#include "decoders/internal/icc_transform.h"

#include <lcms2.h>

#include <utility>

namespace vg::decoders::decoders_internal {
namespace {

// Closes a LittleCMS profile at the end of a scope.
class ProfileHandle {
 public:
  explicit ProfileHandle(cmsHPROFILE profile) : profile_(profile) {}
  ProfileHandle(const ProfileHandle&) = delete;
  ProfileHandle& operator=(const ProfileHandle&) = delete;
  ~ProfileHandle() {
    if (profile_ != nullptr) cmsCloseProfile(profile_);
  }
  cmsHPROFILE get() const { return profile_; }

 private:
  cmsHPROFILE profile_;
};

}  // namespace

IccTransform::IccTransform(IccTransform&& other) noexcept
    : transform_(std::exchange(other.transform_, nullptr)) {}

IccTransform& IccTransform::operator=(IccTransform&& other) noexcept {
  if (this != &other) {
    if (transform_ != nullptr) cmsDeleteTransform(transform_);
    transform_ = std::exchange(other.transform_, nullptr);
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
  ProfileHandle source(cmsOpenProfileFromMem(
      profile.data(), static_cast<cmsUInt32Number>(profile.size())));
  if (source.get() == nullptr) return result;
  // Held as a plain number: a profile may name a colour space that the
  // enumeration does not list, and such a value must not live in the enum.
  const auto space = static_cast<uint32_t>(cmsGetColorSpace(source.get()));
  cmsUInt32Number in_format = 0;
  switch (input) {
    case IccInput::kBgrx:
      if (space != static_cast<uint32_t>(cmsSigRgbData)) return result;
      in_format = TYPE_BGRA_8;
      break;
    case IccInput::kCmyk:
      if (space != static_cast<uint32_t>(cmsSigCmykData)) return result;
      in_format = TYPE_CMYK_8;
      break;
    case IccInput::kCmykInverted:
      if (space != static_cast<uint32_t>(cmsSigCmykData)) return result;
      in_format = TYPE_CMYK_8_REV;
      break;
    case IccInput::kGray:
      if (space != static_cast<uint32_t>(cmsSigGrayData)) return result;
      in_format = TYPE_GRAY_8;
      break;
  }
  ProfileHandle srgb(cmsCreate_sRGBProfile());
  if (srgb.get() == nullptr) return result;
  result.transform_ = cmsCreateTransform(source.get(), in_format, srgb.get(),
                                         TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
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
