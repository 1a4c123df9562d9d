// Converts pixels described by an embedded ICC profile to sRGB, through
// LittleCMS. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_ICC_TRANSFORM_H_
#define VG_DECODERS_INTERNAL_ICC_TRANSFORM_H_

#include <cstdint>
#include <span>

namespace vg::decoders::decoders_internal {

// The layout of the pixels handed to IccTransform::Convert.
enum class IccInput {
  kBgrx,          // blue, green, red, unused; the profile must be RGB
  kCmyk,          // cyan, magenta, yellow, black; 255 = full ink
  kCmykInverted,  // the same, 0 = full ink (Adobe's CMYK JPEGs)
  kGray,          // one byte per pixel; the profile must be grey
};

// Owns one LittleCMS transform from an embedded profile to sRGB BGRX.
// Move-only.
class IccTransform {
 public:
  IccTransform() = default;
  IccTransform(const IccTransform&) = delete;
  IccTransform& operator=(const IccTransform&) = delete;
  IccTransform(IccTransform&& other) noexcept;
  IccTransform& operator=(IccTransform&& other) noexcept;
  ~IccTransform();

  // Returns the transform from `profile` (the bytes of an ICC profile) to
  // sRGB for pixels laid out as `input`, or an empty transform when the
  // profile is damaged or describes another colour space than `input`. A
  // profile that is sRGB's own under another name (most embedded "sRGB
  // IEC61966-2.1" profiles) converts nothing either: it moves no sample of
  // an RGB or grey input by more than one level, so the pixels are taken
  // as they are, and the file costs no conversion.
  static IccTransform ToSrgb(std::span<const uint8_t> profile, IccInput input);

  // Returns true when the transform converts anything.
  bool valid() const noexcept { return transform_ != nullptr; }

  // Returns true when the profile was sound and fitted the input, whether
  // it converts or its colours are sRGB's already.
  bool applies() const noexcept { return valid() || srgb_; }

  // Converts `count` pixels from `in` to BGRX at `out` (4th byte 255). `in`
  // and `out` must not overlap. Does nothing when !valid().
  void Convert(const uint8_t* in, uint8_t* out, int32_t count) const noexcept;

 private:
  void* transform_ = nullptr;  // cmsHTRANSFORM
  bool srgb_ = false;          // a sound profile of sRGB's colours
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_ICC_TRANSFORM_H_
