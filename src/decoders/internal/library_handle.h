// File: decoders/internal/library_handle.h
//
// Internal to vg::decoders. LibraryHandle<T, Free>: owns one object that a C
// library hands out and gives it back with the library's own function at the
// end of a scope. Move-only; an empty handle (nullptr) frees nothing.
//
//   LibraryHandle<void, cmsCloseProfile> profile(cmsCreate_sRGBProfile());
//   if (profile.get() == nullptr) return;
//
//   LibraryHandle<heif_image, heif_image_release> image;
//   heif_decode_image(handle, image.out(), ...);  // handed out through out()
//
// Not for objects that need more than one call to end (libtiff's RGBA
// reading) or that carry state of ours beside them.
#ifndef VG_DECODERS_INTERNAL_LIBRARY_HANDLE_H_
#define VG_DECODERS_INTERNAL_LIBRARY_HANDLE_H_

#include <utility>

namespace vg::decoders::decoders_internal {

template <class T, auto Free>
class LibraryHandle {
 public:
  LibraryHandle() = default;
  explicit LibraryHandle(T* object) : object_(object) {}
  LibraryHandle(LibraryHandle&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)) {}
  LibraryHandle& operator=(LibraryHandle&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  LibraryHandle(const LibraryHandle&) = delete;
  LibraryHandle& operator=(const LibraryHandle&) = delete;
  ~LibraryHandle() { Reset(); }

  T* get() const { return object_; }

  // For a library function that hands the object out through a pointer:
  // frees what the handle held first.
  T** out() {
    Reset();
    return &object_;
  }

 private:
  void Reset() {
    if (object_ != nullptr) Free(std::exchange(object_, nullptr));
  }

  T* object_ = nullptr;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_LIBRARY_HANDLE_H_
