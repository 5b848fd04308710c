// Ed25519 signature verification (RFC 8032 section 5.1.7), written for size rather than speed.
//
// Everything it handles is public (the signature, the key, the message), so nothing needs to run in
// constant time: the code branches on the data freely.
//
// Field elements mod p = 2^255 - 19 are 16 limbs of 16 bits held in signed 64-bit integers. Additions and
// subtractions never carry; a product carries twice at its end, which brings its limbs back to 16 bits
// (the lowest may stay a little over), and only the encoding reduces fully below p.
//
// Points are in extended coordinates (X : Y : Z : T) with x = X/Z, y = Y/Z, xy = T/Z, four fields in a
// row. The addition law of the curve -x^2 + y^2 = 1 + d x^2 y^2 is complete, so it doubles as well.
#include "ed25519_verify.h"
#include "sha512.h"
#include "../../common/text.h"

typedef long long Field[16];

// Little-endian constants, decoded when needed: d = -121665/121666, a square root of -1, the base point's
// encoding (y = 4/5, x even) and the group order L = 2^252 + 27742317777372353535851937790883648493.
static const unsigned char kCurveD[32] = {
    0xa3, 0x78, 0x59, 0x13, 0xca, 0x4d, 0xeb, 0x75, 0xab, 0xd8, 0x41, 0x41, 0x4d, 0x0a, 0x70, 0x00,
    0x98, 0xe8, 0x79, 0x77, 0x79, 0x40, 0xc7, 0x8c, 0x73, 0xfe, 0x6f, 0x2b, 0xee, 0x6c, 0x03, 0x52,
};
static const unsigned char kSquareRootOfMinusOne[32] = {
    0xb0, 0xa0, 0x0e, 0x4a, 0x27, 0x1b, 0xee, 0xc4, 0x78, 0xe4, 0x2f, 0xad, 0x06, 0x18, 0x43, 0x2f,
    0xa7, 0xd7, 0xfb, 0x3d, 0x99, 0x00, 0x4d, 0x2b, 0x0b, 0xdf, 0xc1, 0x4f, 0x80, 0x24, 0x83, 0x2b,
};
static const unsigned char kBasePoint[32] = {
    0x58, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
    0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
};
static const unsigned char kGroupOrder[32] = {
    0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10,
};

// ---- Field arithmetic mod p

static void SetSmall(Field out, long long value)
{
    for (unsigned i = 0; i < 16; i++)
        out[i] = 0;
    out[0] = value;
}

static void Copy(Field out, const Field a)
{
    for (unsigned i = 0; i < 16; i++)
        out[i] = a[i];
}

static void Add(Field out, const Field a, const Field b)
{
    for (unsigned i = 0; i < 16; i++)
        out[i] = a[i] + b[i];
}

static void Subtract(Field out, const Field a, const Field b)
{
    for (unsigned i = 0; i < 16; i++)
        out[i] = a[i] - b[i];
}

// Brings every limb back to 16 bits, the carry out of the top limb re-entering at the bottom times 38
// (2^256 = 38 mod p). The shift is arithmetic (floor division), so a negative limb borrows from the next.
static void Carry(Field a)
{
    for (unsigned i = 0; i < 16; i++) {
        long long carry = a[i] >> 16;
        a[i] &= 0xFFFF;
        if (i < 15)
            a[i + 1] += carry;
        else
            a[0] += 38 * carry;
    }
}

// The factors' limbs stay below 2^18 in magnitude (carried values, and sums or differences of two), so a
// limb product is one 32-bit by 32-bit multiplication, which matters on i686. The columns above 2^256
// fold back at once times 38, and no column grows past 2^48.
static void Multiply(Field out, const Field a, const Field b)
{
    Field columns;
    SetSmall(columns, 0);
    for (unsigned i = 0; i < 16; i++)
        for (unsigned j = 0; j < 16; j++) {
            int factor = i + j < 16 ? 1 : 38;
            columns[(i + j) & 15] += static_cast<long long>(factor * static_cast<int>(a[i])) * static_cast<int>(b[j]);
        }
    Carry(columns);
    Carry(columns);
    Copy(out, columns);
}

// Raises `base` to p - 2 (the inverse, by Fermat) or to (p - 5) / 8 (for the square root). In binary the
// first is 250 ones then 01011, the second 250 ones then 01: ones from the top bit down, but for the bits
// named here.
static void Power(Field out, const Field base, bool inverse)
{
    Field result;
    Copy(result, base);
    for (int bit = inverse ? 253 : 250; bit >= 0; bit--) {
        Multiply(result, result, result);
        bool zero = inverse ? (bit == 4 || bit == 2) : bit == 1;
        if (!zero)
            Multiply(result, result, base);
    }
    Copy(out, result);
}

// The canonical little-endian encoding.
static void Encode(unsigned char out[32], const Field a)
{
    Field t;
    Copy(t, a);
    Carry(t);
    Carry(t);
    Carry(t);
    // Now 0 <= t < 2^256 = 2p + 38 in 16-bit limbs. Subtracting p is adding 19 and taking away 2^255;
    // it is due whenever that sum reaches 2^255, at most twice.
    unsigned limbs[16];
    for (unsigned i = 0; i < 16; i++)
        limbs[i] = static_cast<unsigned>(t[i]);
    for (unsigned pass = 0; pass < 2; pass++) {
        unsigned sum[16], carry = 19;
        for (unsigned i = 0; i < 16; i++) {
            carry += limbs[i];
            sum[i] = i < 15 ? carry & 0xFFFF : carry;
            carry >>= 16;
        }
        if (sum[15] >= 0x8000) {
            sum[15] -= 0x8000;
            CopyBytes(limbs, sum, sizeof sum);
        }
    }
    for (unsigned i = 0; i < 16; i++) {
        out[2 * i] = static_cast<unsigned char>(limbs[i]);
        out[2 * i + 1] = static_cast<unsigned char>(limbs[i] >> 8);
    }
}

// Reads 255 bits; the top bit is the caller's (a sign), and a value of p or more is not reduced here.
static void Decode(Field out, const unsigned char in[32])
{
    for (unsigned i = 0; i < 16; i++)
        out[i] = in[2 * i] | (in[2 * i + 1] << 8);
    out[15] &= 0x7FFF;
}

static bool Equal(const Field a, const Field b)
{
    unsigned char x[32], y[32];
    Encode(x, a);
    Encode(y, b);
    for (unsigned i = 0; i < 32; i++)
        if (x[i] != y[i])
            return false;
    return true;
}

static bool IsOdd(const Field a)
{
    unsigned char bytes[32];
    Encode(bytes, a);
    return bytes[0] & 1;
}

// ---- Points

// A point's fields, in this order.
enum { kX, kY, kZ, kT };

// The registers of the addition: the running sum, which the steps replace, the point added to it, the
// temporaries named as in RFC 8032 section 5.1.4, and 2d.
enum {
    kX1, kY1, kZ1, kT1,
    kX2, kY2, kZ2, kT2,
    kA, kB, kC, kD, kE, kF, kG, kH,
    kTwoD,
    kRegisterCount
};

enum { kAdd, kSubtract, kMultiply };

struct Step {
    unsigned char operation, out, left, right;
};

// The addition as a table: a step takes four bytes where a call with its three addresses takes twenty.
static const Step kPointAddition[] = {
    {kSubtract, kA, kY1, kX1}, {kSubtract, kB, kY2, kX2}, {kMultiply, kA, kA, kB}, // A = (Y1 - X1)(Y2 - X2)
    {kAdd, kB, kY1, kX1}, {kAdd, kC, kY2, kX2}, {kMultiply, kB, kB, kC},           // B = (Y1 + X1)(Y2 + X2)
    {kMultiply, kC, kT1, kT2}, {kMultiply, kC, kC, kTwoD},                         // C = T1 2d T2
    {kMultiply, kD, kZ1, kZ2}, {kAdd, kD, kD, kD},                                 // D = Z1 2 Z2
    {kSubtract, kE, kB, kA}, {kSubtract, kF, kD, kC}, {kAdd, kG, kD, kC}, {kAdd, kH, kB, kA},
    {kMultiply, kX1, kE, kF}, {kMultiply, kY1, kG, kH}, {kMultiply, kZ1, kF, kG}, {kMultiply, kT1, kE, kH},
};

// Adds the point `q` to the sum in registers kX1..kT1; `q` may be the sum itself, which doubles it.
static void AddToSum(Field *registers, const Field *q)
{
    CopyBytes(registers[kX2], q, 4 * sizeof(Field));
    for (const Step &step : kPointAddition) {
        long long *out = registers[step.out];
        const long long *left = registers[step.left], *right = registers[step.right];
        if (step.operation == kMultiply)
            Multiply(out, left, right);
        else if (step.operation == kAdd)
            Add(out, left, right);
        else
            Subtract(out, left, right);
    }
}

// Decodes a point (RFC 8032 section 5.1.3): false for y >= p, for an x^2 that has no square root, and for
// x = 0 with the sign bit set, none of which a valid encoder writes.
static bool DecodePoint(Field *point, const unsigned char in[32])
{
    Field &x = point[kX], &y = point[kY];
    Decode(y, in);
    unsigned char check[32];
    Encode(check, y);
    for (unsigned i = 0; i < 32; i++)
        if (check[i] != (i == 31 ? in[i] & 0x7F : in[i]))
            return false;
    // x^2 = u / v with u = y^2 - 1, v = d y^2 + 1; the candidate root is u v^3 (u v^7)^((p - 5) / 8).
    Field one, u, v, v3, t;
    SetSmall(one, 1);
    SetSmall(point[kZ], 1);
    Multiply(u, y, y);
    Decode(t, kCurveD);
    Multiply(v, u, t);
    Subtract(u, u, one);
    Add(v, v, one);
    Multiply(v3, v, v);
    Multiply(v3, v3, v);
    Multiply(t, v3, v3);
    Multiply(t, t, v);
    Multiply(t, t, u);
    Power(t, t, false);
    Multiply(t, t, v3);
    Multiply(x, t, u);
    // v x^2 is u for a root, -u when x needs the factor sqrt(-1), anything else when u / v is no square.
    Multiply(t, x, x);
    Multiply(t, t, v);
    if (!Equal(t, u)) {
        Add(t, t, u);
        SetSmall(one, 0);
        if (!Equal(t, one))
            return false;
        Decode(t, kSquareRootOfMinusOne);
        Multiply(x, x, t);
    }
    bool sign = in[31] >> 7;
    SetSmall(t, 0);
    if (sign && Equal(x, t))
        return false;
    if (IsOdd(x) != sign)
        Subtract(x, t, x);
    Multiply(point[kT], x, y);
    return true;
}

static void EncodePoint(unsigned char out[32], const Field *point)
{
    Field inverse, x, y;
    Power(inverse, point[kZ], true);
    Multiply(x, point[kX], inverse);
    Multiply(y, point[kY], inverse);
    Encode(out, y);
    out[31] |= IsOdd(x) << 7;
}

// ---- Scalars mod L, as 32 little-endian bytes

static bool BelowGroupOrder(const unsigned char s[32])
{
    for (int i = 31; i >= 0; i--)
        if (s[i] != kGroupOrder[i])
            return s[i] < kGroupOrder[i];
    return false;
}

// Reduces a 512-bit little-endian number mod L one bit at a time, high bit first: r = 2r + bit, less L
// when that reaches L. r stays below L < 2^253, so 2r + 1 fits in 32 bytes.
static void ReduceWide(unsigned char out[32], const unsigned char wide[64])
{
    unsigned char r[32] = {0};
    for (int bit = 511; bit >= 0; bit--) {
        unsigned carry = (wide[bit >> 3] >> (bit & 7)) & 1;
        for (unsigned i = 0; i < 32; i++) {
            unsigned doubled = r[i] << 1 | carry;
            r[i] = static_cast<unsigned char>(doubled);
            carry = doubled >> 8;
        }
        if (!BelowGroupOrder(r)) {
            int borrow = 0;
            for (unsigned i = 0; i < 32; i++) {
                int difference = r[i] - kGroupOrder[i] - borrow;
                r[i] = static_cast<unsigned char>(difference);
                borrow = difference < 0;
            }
        }
    }
    CopyBytes(out, r, 32);
}

static bool Bit(const unsigned char *scalar, int bit)
{
    return (scalar[bit >> 3] >> (bit & 7)) & 1;
}

bool Ed25519Verify(const unsigned char signature[64], const unsigned char publicKey[32], const unsigned char *message,
                   unsigned length)
{
    const unsigned char *s = signature + 32;
    Field a[4], b[4], registers[kRegisterCount];
    if (!BelowGroupOrder(s) || !DecodePoint(a, publicKey) || !DecodePoint(b, kBasePoint))
        return false;
    Decode(registers[kTwoD], kCurveD);
    Add(registers[kTwoD], registers[kTwoD], registers[kTwoD]);

    // A key of small order lets one signature pass for many messages under the cofactorless check, so
    // refuse any key that [8]A sends to the neutral point (the only point of the subgroup with x = 0).
    Field *sum = registers + kX1;
    CopyBytes(sum, a, sizeof a);
    for (unsigned i = 0; i < 3; i++)
        AddToSum(registers, sum);
    // A temporary of the addition serves until the next one: with the block scopes, this keeps the frame
    // below the 4000 bytes from which the compiler probes the stack.
    long long *zero = registers[kA];
    SetSmall(zero, 0);
    if (Equal(sum[kX], zero))
        return false;

    unsigned char h[32];
    {
        unsigned char digest[64];
        Sha512 hash;
        Sha512Init(&hash);
        Sha512Update(&hash, signature, 32);
        Sha512Update(&hash, publicKey, 32);
        Sha512Update(&hash, message, length);
        Sha512Final(&hash, digest);
        ReduceWide(h, digest);
    }

    // [S]B - [h]A by one double-and-add pass over both scalars (both below L < 2^253); its encoding must
    // be R.
    Subtract(a[kX], zero, a[kX]);
    Subtract(a[kT], zero, a[kT]);
    SetSmall(sum[kX], 0);
    SetSmall(sum[kY], 1);
    SetSmall(sum[kZ], 1);
    SetSmall(sum[kT], 0);
    for (int bit = 252; bit >= 0; bit--) {
        AddToSum(registers, sum);
        if (Bit(s, bit))
            AddToSum(registers, b);
        if (Bit(h, bit))
            AddToSum(registers, a);
    }
    unsigned char encoded[32];
    EncodePoint(encoded, sum);
    for (unsigned i = 0; i < 32; i++)
        if (encoded[i] != signature[i])
            return false;
    return true;
}
