// Memory that picture decodes running at once may hold between them.
// Internal to vg::decoders.
//
// A progressive JPEG keeps every coefficient of the whole picture until its
// last scan: 2 bytes per sample, 100 MB for an 18-megapixel 4:4:4 photo,
// whatever scale it is read at. Two such decodes at once on two workers
// would double the program's peak. QtGui's readers (BMP, ICO, CUR, GIF)
// hold the whole picture they read, up to 8 bytes a pixel for an icon's
// 16-bit PNG: 1 GB at the pixel limit; so does libpng for an interlaced
// PNG, up to 1 GiB. A decode asks the budget for what it
// will hold; when that would take the total over the limit it waits until
// the others have finished. A decode asking alone always goes ahead, so a
// picture larger than the limit still decodes, with nothing beside it.
#ifndef VG_DECODERS_INTERNAL_DECODE_BUDGET_H_
#define VG_DECODERS_INTERNAL_DECODE_BUDGET_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vg::decoders::decoders_internal {

class DecodeBudget {
 public:
  explicit DecodeBudget(int64_t limit_bytes) : limit_(limit_bytes) {}
  DecodeBudget(const DecodeBudget&) = delete;
  DecodeBudget& operator=(const DecodeBudget&) = delete;

  // What one decode holds; given back when it goes.
  class Lease {
   public:
    Lease() = default;
    Lease(Lease&& other) noexcept;
    Lease& operator=(Lease&& other) noexcept;
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { Release(); }
    void Release();
    int64_t bytes() const { return bytes_; }

   private:
    friend class DecodeBudget;
    Lease(DecodeBudget* budget, int64_t bytes)
        : budget_(budget), bytes_(bytes) {}
    DecodeBudget* budget_ = nullptr;
    int64_t bytes_ = 0;
  };

  // Where the leases of a decoder process are really taken: the budget of
  // the program that runs it, asked over its socket.
  class Broker {
   public:
    virtual ~Broker() = default;
    // Blocks until the program has taken `bytes` for this process.
    virtual void Take(int64_t bytes) = 0;
    // Gives `bytes` back.
    virtual void Give(int64_t bytes) = 0;
  };

  // Blocks until `bytes` fit beside what other leases hold (or no lease is
  // held but the caller's own `own_leases`, those of the same decode),
  // then takes them. Negative counts as 0.
  Lease Take(int64_t bytes, int own_leases = 0);

  // Makes every later lease go through `broker` (null: this budget again).
  // Set once, before any decode.
  void SetBroker(Broker* broker) { broker_ = broker; }

  // Returns true when Take(bytes, own_leases) would go ahead now, false
  // when it would wait.
  bool WouldGrant(int64_t bytes, int own_leases = 0) const;

  int64_t held() const;
  // Returns how many Take calls are waiting now.
  int waiting() const;

 private:
  void Give(int64_t bytes);
  // WouldGrant, with mutex_ held.
  bool Grants(int64_t bytes, int own_leases) const {
    return leases_ <= own_leases || held_ + bytes <= limit_;
  }

  const int64_t limit_;
  Broker* broker_ = nullptr;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  int64_t held_ = 0;
  int leases_ = 0;
  int waiting_ = 0;
};

// The budget of this process: DecodePictureBytes and DecodePictureFile
// hand it to the decoders when they decode in this process, and
// DecoderProcesses takes from it what its decoder processes ask for. A
// decoder takes from the budget it is handed, never from this one.
DecodeBudget& SharedDecodeBudget();

// Its limit: room for two large photos at once (the 72 MB of a 5640 x 3172
// 4:2:2 progressive file beside the 33 MB of a 3840 x 2160 one), not for
// two of the very largest (two 5120 x 2880 4:4:4 progressive files: 88 MB
// each). Measured on the 34-photo corpus with two jobs: 96 MiB kept the
// peak at 127-135 MB but made the two-size batch 30 % slower than no
// limit; 128 MiB gives 137-149 MB and 13 % slower; no limit, 190-226 MB.
inline constexpr int64_t kSharedDecodeBudgetBytes = int64_t{128} << 20;

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_DECODE_BUDGET_H_
