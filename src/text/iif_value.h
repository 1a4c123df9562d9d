// File: text/iif_value.h
//
// Picks one of two values that the caller has already computed, according to
// a condition. A condition is anything that tests as a Boolean (a bool, or a
// number where 0 is false and anything else, such as -1, is true) or an
// optional one, where a condition that holds no value counts as false.
//
//   auto plural = IIfValue(count > 1, u"s", u"");
//   auto label = IIfValue(std::optional<bool>{}, 1, 2);  // 2
//
// Not a lazy conditional: both values are evaluated before the call, so it is
// no guard against evaluating an expensive or failing branch.
#ifndef VG_TEXT_IIF_VALUE_H_
#define VG_TEXT_IIF_VALUE_H_

#include <optional>
#include <type_traits>

namespace vg::text {
namespace iif_internal {

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename Condition>
constexpr bool Holds(const Condition& condition) {
  // std::optional converts to bool as "has a value", which would make an
  // optional holding false count as true; look inside it instead.
  if constexpr (IsOptional<Condition>::value) {
    return condition.has_value() && Holds(*condition);
  } else {
    return static_cast<bool>(condition);
  }
}

}  // namespace iif_internal

// Returns `whenTrue` when `condition` holds, else `whenFalse`; an empty
// optional condition counts as false. Both values are taken by value and the
// result has their common type. Raises nothing of its own.
template <typename Condition, typename T, typename U>
constexpr std::common_type_t<T, U> IIfValue(const Condition& condition,
                                            T whenTrue, U whenFalse) {
  if (iif_internal::Holds(condition)) return whenTrue;
  return whenFalse;
}

}  // namespace vg::text

#endif  // VG_TEXT_IIF_VALUE_H_
