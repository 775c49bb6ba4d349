// sin, cos and tan. The argument is reduced to r = x - q pi/2, |r| <= pi/4, by multiplying its
// 64-bit significand with the bits of 2/pi that matter at its exponent (Payne and Hanek's
// method): about 190 bits of the product past the binary point, so r keeps its 128 bits even
// for the doubles and long doubles closest to a multiple of pi/2. The series of sin and cos on
// r have their first terms summed as pairs.
#include <stdint.h>

#include "math.h"
#include "math_internal.h"

namespace {

using namespace nuv::math;

constexpr DD kPiOver2 = {0xc90fdaa22168c235p-63L, -0xece675d1fc8f8cbbp-129L};
constexpr long double kPiOver4 = 0xc90fdaa22168c235p-64L;

// 2/pi after the binary point, 32 bits a word, most significant first: 16,960 bits, enough for
// the largest long double exponent (16,383) with the window below.
constexpr uint32_t kTwoOverPi[] = {
    0xA2F9836E, 0x4E441529, 0xFC2757D1, 0xF534DDC0, 0xDB629599, 0x3C439041, 0xFE5163AB, 0xDEBBC561,
    0xB7246E3A, 0x424DD2E0, 0x06492EEA, 0x09D1921C, 0xFE1DEB1C, 0xB129A73E, 0xE88235F5, 0x2EBB4484,
    0xE99C7026, 0xB45F7E41, 0x3991D639, 0x835339F4, 0x9C845F8B, 0xBDF9283B, 0x1FF897FF, 0xDE05980F,
    0xEF2F118B, 0x5A0A6D1F, 0x6D367ECF, 0x27CB09B7, 0x4F463F66, 0x9E5FEA2D, 0x7527BAC7, 0xEBE5F17B,
    0x3D0739F7, 0x8A5292EA, 0x6BFB5FB1, 0x1F8D5D08, 0x56033046, 0xFC7B6BAB, 0xF0CFBC20, 0x9AF4361D,
    0xA9E39161, 0x5EE61B08, 0x6599855F, 0x14A06840, 0x8DFFD880, 0x4D732731, 0x06061556, 0xCA73A8C9,
    0x60E27BC0, 0x8C6B47C4, 0x19C367CD, 0xDCE8092A, 0x8359C476, 0x8B961CA6, 0xDDAF44D1, 0x5719053E,
    0xA5FF0705, 0x3F7E33E8, 0x32C2DE4F, 0x98327DBB, 0xC33D26EF, 0x6B1E5EF8, 0x9F3A1F35, 0xCAF27F1D,
    0x87F12190, 0x7C7C246A, 0xFA6ED577, 0x2D30433B, 0x15C614B5, 0x9D19C3C2, 0xC4AD414D, 0x2C5D000C,
    0x467D862D, 0x71E39AC6, 0x9B006233, 0x7CD2B497, 0xA7B4D555, 0x37F63ED7, 0x1810A3FC, 0x764D2A9D,
    0x64ABD770, 0xF87C6357, 0xB07AE715, 0x175649C0, 0xD9D63B38, 0x84A7CB23, 0x24778AD6, 0x23545AB9,
    0x1F001B0A, 0xF1DFCE19, 0xFF319F6A, 0x1E666157, 0x9947FBAC, 0xD87F7EB7, 0x652289E8, 0x3260BFE6,
    0xCDC4EF09, 0x366CD43F, 0x5DD7DE16, 0xDE3B5892, 0x9BDE2822, 0xD2E88628, 0x4D58E232, 0xCAC616E3,
    0x08CB7DE0, 0x50C017A7, 0x1DF35BE0, 0x1834132E, 0x62128301, 0x48835B8E, 0xF57FB0AD, 0xF2E91E43,
    0x4A48D367, 0x10D8DDAA, 0x425FAECE, 0x616AA428, 0x0AB499D3, 0xF2A6067F, 0x775C83C2, 0xA3883C61,
    0x78738A5A, 0x8CAFBDD7, 0x6F63A62D, 0xCBBFF4EF, 0x818D67C1, 0x2645CA55, 0x36D9CAD2, 0xA8288D61,
    0xC277C912, 0x1426049B, 0x4612C459, 0xC444C5C8, 0x91B24DF3, 0x1700AD43, 0xD4E54929, 0x10D5FDFC,
    0xBE00CC94, 0x1EEECE70, 0xF53E1380, 0xF1ECC3E7, 0xB328F8C7, 0x9405933E, 0x71C1B309, 0x2EF3450B,
    0x9C12887B, 0x20AB9FB5, 0x2EC29247, 0x2F327B6D, 0x550C90A7, 0x721FE76B, 0x96CB314A, 0x1679E279,
    0x4189DFF4, 0x9794E884, 0xE6E29731, 0x996BED88, 0x365F5F0E, 0xFDBBB49A, 0x486CA467, 0x42727132,
    0x5D8DB815, 0x9F09E5BC, 0x25318D39, 0x74F71C05, 0x30010C0D, 0x68084B58, 0xEE2C90AA, 0x4702E774,
    0x24D6BDA6, 0x7DF77248, 0x6EEF169F, 0xA6948EF6, 0x91B45153, 0xD1F20ACF, 0x3398207E, 0x4BF56863,
    0xB25F3EDD, 0x035D407F, 0x89852952, 0x55C06437, 0x10D86D32, 0x4832754C, 0x5BD4714E, 0x6E5445C1,
    0x090B69F5, 0x2AD56614, 0x9D072750, 0x045DDB3B, 0xB4C576EA, 0x17F9877D, 0x6B49BA27, 0x1D296996,
    0xACCCC654, 0x14AD6AE2, 0x9089D988, 0x50722CBE, 0xA4049407, 0x777030F3, 0x27FC00A8, 0x71EA49C2,
    0x663DE064, 0x83DD9797, 0x3FA3FD94, 0x438C860D, 0xDE41319D, 0x39928C70, 0xDDE7B717, 0x3BDF082B,
    0x3715A080, 0x5C93805A, 0x921110D8, 0xE80FAF80, 0x6C4BFFDB, 0x0F903876, 0x185915A5, 0x62BBCB61,
    0xB989C7BD, 0x401004F2, 0xD2277549, 0xF6B6EBBB, 0x22DBAA14, 0x0A2F2689, 0x76836433, 0x3B091A94,
    0x0EAA3A51, 0xC2A31DAE, 0xEDAF1226, 0x5C4DC26D, 0x9C7A2D97, 0x56C0833F, 0x03F6F009, 0x8C402B99,
    0x316D07B4, 0x3915200C, 0x5BC3D8C4, 0x92F54BAD, 0xC6A5CA4E, 0xCD37A736, 0xA9E69492, 0xAB6842DD,
    0xDE6319EF, 0x8C76528B, 0x6837DBFC, 0xABA1AE31, 0x15DFA1AE, 0x00DAFB0C, 0x664D64B7, 0x05ED3065,
    0x29BF5657, 0x3AFF47B9, 0xF96AF3BE, 0x75DF9328, 0x3080ABF6, 0x8C6615CB, 0x040622FA, 0x1DE4D9A4,
    0xB33D8F1B, 0x5709CD36, 0xE9424EA4, 0xBE13B523, 0x331AAAF0, 0xA8654FA5, 0xC1D20F3F, 0x0BCD785B,
    0x76F92304, 0x8B7B7217, 0x8953A6C6, 0xE26E6F00, 0xEBEF584A, 0x9BB7DAC4, 0xBA66AACF, 0xCF761D02,
    0xD12DF1B1, 0xC1998C77, 0xADC3DA48, 0x86A05DF7, 0xF480C62F, 0xF0AC9AEC, 0xDDBC5C3F, 0x6DDED01F,
    0xC790B6DB, 0x2A3A25A3, 0x9AAF0093, 0x53AD0457, 0xB6B42D29, 0x7E804BA7, 0x07DA0EAA, 0x76A1597B,
    0x2A12162D, 0xB7DCFDE5, 0xFAFEDB89, 0xFDBE896C, 0x76E4FCA9, 0x0670803E, 0x156E85FF, 0x87FD073E,
    0x28336761, 0x86182AEA, 0xBD4DAFE7, 0xB36E6D8F, 0x3967955B, 0xBF3148D7, 0x8416DF30, 0x432DC735,
    0x6125CE70, 0xC9B8CB30, 0xFD6CBFA2, 0x00A4E46C, 0x05A0DD5A, 0x476F21D2, 0x1262845C, 0xB9496170,
    0xE0566B01, 0x52993755, 0x50B7D51E, 0xC4F1335F, 0x6E13E430, 0x5DA92E85, 0xC3B21D36, 0x32A1A4B7,
    0x08D4B1EA, 0x21F716E4, 0x698F77FF, 0x2780030C, 0x2D408DA0, 0xCD4F99A5, 0x20D3A2B3, 0x0A5D2F42,
    0xF9B4CBDA, 0x11D0BE7D, 0xC1DB9BBD, 0x17AB81A2, 0xCA5C6A08, 0x17552E55, 0x0027F014, 0x7F8607E1,
    0x640B148D, 0x4196DEBE, 0x872AFDDA, 0xB6256B34, 0x897BFEF3, 0x059EBFB9, 0x4F6A68A8, 0x2A4A5AC4,
    0x4FBCF82D, 0x985AD795, 0xC7F48D4D, 0x0DA63A20, 0x5F57A4B1, 0x3F149538, 0x800120CC, 0x86DD71B6,
    0xDEC9F560, 0xBF11654D, 0x6B0701AC, 0xB08CD0C0, 0xB2485551, 0x0EFB1EC3, 0x72953B06, 0xA33540C0,
    0x7BDC06CC, 0x45E0FA29, 0x4EC8CAD6, 0x41F3E8DE, 0x647CD864, 0x9B31BED9, 0xC397A4D4, 0x5877C5E3,
    0x6913DAF0, 0x3C3ABA46, 0x18465F75, 0x55F5BDD2, 0xC6926E5D, 0x2EACED44, 0x0E423E1C, 0x87C461E9,
    0xFD29F3D6, 0xE7CA7C22, 0x35916FC5, 0xE0088DD7, 0xFFE26A6E, 0xC6FDB0C1, 0x0893745D, 0x7CB2AD6B,
    0x9D6ECD7B, 0x723E6A11, 0xC6A9CFF7, 0xDF7329BA, 0xC9B55100, 0xB70DB2E2, 0x24BA7460, 0x7DE58AD8,
    0x742C150D, 0x0C188194, 0x667E1629, 0x01767A9F, 0xBEFDFDEF, 0x4556367E, 0xD913D9EC, 0xB9BA8BFC,
    0x97C427A8, 0x31C36EF1, 0x36C59456, 0xA8D8B5A8, 0xB40ECCCF, 0x2D891234, 0x576F8956, 0x2CE3CE99,
    0xB920D6AA, 0x5E6B9C2A, 0x3ECC5F11, 0x4A0BFDFB, 0xF4E16D3B, 0x8E2C86E2, 0x84D4E9A9, 0xB4FCD1EE,
    0xEFC9352E, 0x61392F44, 0x2138C8D9, 0x1B0AFC81, 0x6A4AFBD8, 0x1C2F84B4, 0x538C994E, 0xCC2254DC,
    0x552AD6C6, 0xC096190B, 0xB8701A64, 0x9569605A, 0x26EE523F, 0x0F117F11, 0xB5F4F5CB, 0xFC2DBC34,
    0xEEBC34CC, 0x5DE8605E, 0xDD9B8E67, 0xEF3392B8, 0x17C99B58, 0x61BC57E1, 0xC6835110, 0x3ED84871,
    0xDDDD1C2D, 0xA118AF46, 0x2C21D7F3, 0x59987AD9, 0xC0549EFA, 0x864FFC06, 0x56AE79E5, 0x36228922,
    0xAD38DC93, 0x67AAE855, 0x3826829B, 0xE7CAA40D, 0x51B13399, 0x0ED7A948, 0x0569F0B2, 0x65A7887F,
    0x974C8836, 0xD1F9B392, 0x214A827B, 0x21CF98DC, 0x9F405547, 0xDC3A74E1, 0x42EB67DF, 0x9DFE5FD4,
    0x5EA4677B, 0x7AACBAA2, 0xF6552388, 0x2B55BA41, 0x086E5986, 0x2A218347, 0x39E6E389, 0xD49EE540,
    0xFB49E956, 0xFFCA0F1C, 0x8A59C52B, 0xFA94C5C1, 0xD3CFC50F, 0xAE5ADB86, 0xC5476243, 0x853B8621,
    0x94792C87, 0x61107B4C, 0x2A1A2C80, 0x12BF4390, 0x2688893C, 0x78E4C4A8, 0x7BDBE5C2, 0x3AC4EAF4,
    0x268A67F7, 0xBF920D2B, 0xA365B193, 0x3D0B7CBD, 0xDC51A463, 0xDD27DDE1, 0x6919949A, 0x9529A828,
    0xCE68B4ED, 0x09209F44, 0xCA984E63, 0x8270237C, 0x7E32B90F, 0x8EF5A7E7, 0x561408F1, 0x212A9DB5,
    0x4D7E6F51, 0x19A5ABF9, 0xB5D6DF82, 0x61DD9602, 0x36169F3A, 0xC4A1A283, 0x6DED727A, 0x8D39A9B8,
    0x825C326B, 0x5B2746ED, 0x34007700, 0xD255F4FC, 0x4D590180, 0x71E0E13F, 0x89B295F3, 0x64A8F1AE,
    0xA74B38FC, 0x4CEAB2BB, 0x47270BAB, 0xC3A734BA, 0x6052DD34, 0xF8563AEB, 0x7E8A31BB, 0x365895B7,
    0x47F7A994, 0xC3AAD392,
};
constexpr int kWindowWords = 9;
constexpr int kLimbs = kWindowWords + 2;

// Bits [low, low + 63] of a little-endian number of kLimbs 32-bit limbs; bits below 0 are 0.
uint64_t bits64(const uint32_t *p, int low) {
  uint64_t result = 0;
  for (int i = 63; i >= 0; --i) {
    int bit = low + i;
    uint64_t b = bit >= 0 && bit < 32 * kLimbs ? (p[bit / 32] >> (bit % 32)) & 1u : 0;
    result = result << 1 | b;
  }
  return result;
}

// x = q pi/2 + r with |r| <= pi/4 (a little more, at worst), q returned modulo 4.
int reduce(long double x, DD *r) {
  long double a = fabs_ld(x);
  if (a <= kPiOver4) {
    *r = dd(x);
    return 0;
  }
  Bits b = bits_of(a);
  // a = m * 2^s with m the 64-bit significand. Bits of 2/pi before word k0 times a are
  // multiples of 4 and drop out of q; the window then reaches some 190 bits past the point.
  int s = (b.sign_exponent & 0x7FFF) - 16383 - 63;
  int k0 = s - 2 >= 0 ? (s - 2) / 32 : 0;
  uint32_t product[kLimbs] = {};
  const uint32_t m[2] = {static_cast<uint32_t>(b.significand),
                         static_cast<uint32_t>(b.significand >> 32)};
  for (int i = 0; i < kWindowWords; ++i) {
    uint64_t word = kTwoOverPi[k0 + kWindowWords - 1 - i];  // limb i, least significant first
    uint64_t carry = 0;
    for (int j = 0; j < 2; ++j) {
      uint64_t t = word * m[j] + product[i + j] + carry;
      product[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    for (int k = i + 2; carry != 0 && k < kLimbs; ++k) {
      uint64_t t = product[k] + carry;
      product[k] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
  }
  // The product is a * 2/pi * 2^point: `point` bits lie past the binary point.
  int point = 32 * (k0 + kWindowWords) - s;
  int q = static_cast<int>(bits64(product, point) & 3u);
  bool negative = ((bits64(product, point - 1) & 1u) != 0);
  if (negative) {
    // The fraction is at least 1/2: take 1 - fraction and the next quadrant.
    ++q;
    uint64_t borrow = 0;
    for (int i = 0; i < kLimbs; ++i) {
      uint64_t t = uint64_t{0} - product[i] - borrow;
      product[i] = static_cast<uint32_t>(t);
      borrow = (t >> 32) != 0 ? 1 : 0;
    }
  }
  // Clear the integer bits, then find the fraction's leading bit.
  for (int bit = point; bit < 32 * kLimbs; ++bit) product[bit / 32] &= ~(1u << (bit % 32));
  int top = point - 1;
  while (top >= 0 && ((product[top / 32] >> (top % 32)) & 1u) == 0) --top;
  DD f = dd(0.0L);
  if (top >= 0) {
    long double hi = scale(static_cast<long double>(bits64(product, top - 63)), top - 63 - point);
    long double lo = scale(static_cast<long double>(bits64(product, top - 127)), top - 127 - point);
    f = fast_two_sum(hi, lo);
  }
  DD reduced = mul(f, kPiOver2);
  if (negative != sign_of(x)) reduced = neg(reduced);
  *r = reduced;
  return (sign_of(x) ? -q : q) & 3;
}

// (-1)^k / (2k + 5)! and (-1)^k / (2k + 6)!: the tails after the pair-summed terms.
constexpr long double kSinTail[] = {
    1.0L / 120,
    -1.0L / 5040,
    1.0L / 362880,
    -1.0L / 39916800,
    1.0L / 6227020800,
    -1.0L / 1307674368000,
    1.0L / 355687428096000,
    -1.0L / 121645100408832000,
    1.0L / 51090942171709440000.0L,
    -1.0L / 25852016738884976640000.0L,
};
constexpr long double kCosTail[] = {
    1.0L / 720,
    -1.0L / 40320,
    1.0L / 3628800,
    -1.0L / 479001600,
    1.0L / 87178291200,
    -1.0L / 20922789888000,
    1.0L / 6402373705728000,
    -1.0L / 2432902008176640000.0L,
    1.0L / 1124000727777607680000.0L,
};

// sin(r) = r - r^3/6 + r^5 (1/5! - r^2/7! + ...).
DD sin_kernel(DD r) {
  DD r2 = mul(r, r);
  DD r3 = mul(r2, r);
  long double t = r2.hi;
  long double tail = r3.hi * t * horner(t, kSinTail, sizeof kSinTail / sizeof kSinTail[0]);
  return add(sub(r, div(r3, dd(6.0L))), tail);
}

// cos(r) = 1 - r^2/2 + r^4/24 - r^6 (1/6! - r^2/8! + ...).
DD cos_kernel(DD r) {
  DD r2 = mul(r, r);
  long double t = r2.hi;
  long double tail = -(t * t * t) * horner(t, kCosTail, sizeof kCosTail / sizeof kCosTail[0]);
  DD head = add(dd(1.0L), add(mul(r2, -0.5L), div(mul(r2, r2), dd(24.0L))));
  return add(head, tail);
}

// sin and cos of the quadrant q and the reduced r.
void sin_cos(int q, DD r, DD *s, DD *c) {
  DD sr = sin_kernel(r), cr = cos_kernel(r);
  switch (q) {
    case 0:
      *s = sr;
      *c = cr;
      break;
    case 1:
      *s = cr;
      *c = neg(sr);
      break;
    case 2:
      *s = neg(sr);
      *c = neg(cr);
      break;
    default:
      *s = neg(cr);
      *c = sr;
      break;
  }
}

}  // namespace

extern "C" {

long double sinl(long double x) {
  if (is_nan(x) || is_inf(x)) return x - x;  // NaN
  if (fabs_ld(x) < 0x1p-32L) return x;
  DD r, s, c;
  sin_cos(reduce(x, &r), r, &s, &c);
  return value(s);
}
double sin(double x) { return to_double(sinl(x)); }
float sinf(float x) { return to_float(sinl(x)); }

long double cosl(long double x) {
  if (is_nan(x) || is_inf(x)) return x - x;
  DD r, s, c;
  sin_cos(reduce(x, &r), r, &s, &c);
  return value(c);
}
double cos(double x) { return to_double(cosl(x)); }
float cosf(float x) { return to_float(cosl(x)); }

long double tanl(long double x) {
  if (is_nan(x) || is_inf(x)) return x - x;
  if (fabs_ld(x) < 0x1p-32L) return x;
  DD r, s, c;
  sin_cos(reduce(x, &r), r, &s, &c);
  return value(div(s, c));
}
double tan(double x) { return to_double(tanl(x)); }
float tanf(float x) { return to_float(tanl(x)); }

void sincosl(long double x, long double *s, long double *c) {
  *s = sinl(x);
  *c = cosl(x);
}
void sincos(double x, double *s, double *c) {
  *s = sin(x);
  *c = cos(x);
}
void sincosf(float x, float *s, float *c) {
  *s = sinf(x);
  *c = cosf(x);
}

}  // extern "C"
