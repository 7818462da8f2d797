#pragma once
// A small typed bit set: member number n of enumeration E is bit n of Storage.

#include <cstdint>
#include <initializer_list>

namespace xcom {

template <typename E, typename Storage>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) bits_ = static_cast<Storage>(bits_ | Bit(m));
  }
  static constexpr TSet FromBits(unsigned bits) {
    TSet s;
    s.bits_ = static_cast<Storage>(bits);
    return s;
  }

  constexpr Storage Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
  constexpr TSet& Include(E m) {
    bits_ = static_cast<Storage>(bits_ | Bit(m));
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    bits_ = static_cast<Storage>(bits_ & ~Bit(m));
    return *this;
  }

  friend constexpr TSet operator+(TSet a, TSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TSet operator*(TSet a, TSet b) { return FromBits(a.bits_ & b.bits_); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(a.bits_ & ~b.bits_); }
  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr Storage Bit(E m) { return static_cast<Storage>(1u << static_cast<unsigned>(m)); }
  Storage bits_ = 0;
};

}  // namespace xcom
