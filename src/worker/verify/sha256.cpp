// SHA-256 (FIPS 180-4).
//
// The archive is hashed while it downloads, so the compression function is the one place in the product
// that runs for speed: whole blocks are compressed straight from the caller's buffer, and only a block
// that straddles two calls is gathered in the context first. Where the processor has the SHA instructions
// (asked once through CPUID) they compress the blocks, several times faster than the portable code, which
// otherwise would hold a fast download back.
#include "sha256.h"
#include "sha256_blocks.h"
#include "../../common/text.h"
#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

static const unsigned kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

static inline unsigned RotateRight(unsigned x, unsigned n)
{
    return (x >> n) | (x << (32 - n));
}

// One round; the caller passes the working variables in their current roles, so that a pair of rounds
// moves no values between them and only the end of each pair rotates the names.
static inline void Round(unsigned a, unsigned b, unsigned c, unsigned &d, unsigned e, unsigned f, unsigned g,
                         unsigned &h, unsigned constantAndWord)
{
    unsigned t1 = h + (RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25)) + (g ^ (e & (f ^ g))) +
                  constantAndWord;
    d += t1;
    h = t1 + (RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22)) + ((a & b) | (c & (a | b)));
}

static void CompressOne(unsigned state[8], const unsigned char *block)
{
    unsigned w[64];
    for (unsigned i = 0; i < 16; i++, block += 4)
        w[i] = static_cast<unsigned>(block[0]) << 24 | static_cast<unsigned>(block[1]) << 16 |
               static_cast<unsigned>(block[2]) << 8 | block[3];
    for (unsigned i = 16; i < 64; i++) {
        unsigned s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        unsigned s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    unsigned a = state[0], b = state[1], c = state[2], d = state[3];
    unsigned e = state[4], f = state[5], g = state[6], h = state[7];
    // Two rounds a pass halve the moves of a plain loop for little code; unrolling all eight roles gains less
    // than it costs in size (bench/README.md).
    for (unsigned i = 0; i < 64; i += 2) {
        Round(a, b, c, d, e, f, g, h, kRoundConstants[i] + w[i]);
        Round(h, a, b, c, d, e, f, g, kRoundConstants[i + 1] + w[i + 1]);
        unsigned newA = g, newB = h;
        h = f;
        g = e;
        f = d;
        e = c;
        d = b;
        c = a;
        b = newB;
        a = newA;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

void Sha256CompressPortable(unsigned state[8], const unsigned char *blocks, unsigned count)
{
    for (; count; count--, blocks += 64)
        CompressOne(state, blocks);
}

#if defined(__i386__) || defined(__x86_64__)
// 0 not yet asked, 1 present, 2 absent.
static int shaInstructions;

static bool HaveShaInstructions()
{
    if (!shaInstructions) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        bool sse = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3) && (c & bit_SSE4_1);
        bool sha = sse && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA);
        shaInstructions = sha ? 1 : 2;
    }
    return shaInstructions == 1;
}

// The state is kept as the instructions want it: ABEF in one register, CDGH in the other. Each group of
// four message words is scheduled from the four groups before it, and each pair of rnds2 does four rounds.
__attribute__((target("sha,sse4.1,ssse3"))) static void CompressWithInstructions(unsigned state[8],
                                                                                 const unsigned char *blocks,
                                                                                 unsigned count)
{
    const __m128i byteOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    // Read through a pointer the compiler cannot see through: unrolled, it would otherwise fold the round
    // constants into a second copy of the table, each load with an absolute address to relocate.
    const unsigned *constants = kRoundConstants;
    __asm__("" : "+r"(constants));
    __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0xB1);
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count; count--, blocks += 64) {
        __m128i savedAbef = abef;
        __m128i savedCdgh = cdgh;
        __m128i group[4];
#pragma GCC unroll 4
        for (unsigned j = 0; j < 4; j++)
            group[j] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blocks + 16 * j)),
                                        byteOrder);
        // Unrolled, the four groups stay in registers (bench/README.md has what it gains for its size).
#pragma GCC unroll 16
        for (unsigned j = 0; j < 16; j++) {
            if (j >= 4) {
                __m128i next = _mm_sha256msg1_epu32(group[j & 3], group[(j + 1) & 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(group[(j + 3) & 3], group[(j + 2) & 3], 4));
                group[j & 3] = _mm_sha256msg2_epu32(next, group[(j + 3) & 3]);
            }
            __m128i words = _mm_add_epi32(group[j & 3],
                                          _mm_loadu_si128(reinterpret_cast<const __m128i *>(constants + 4 * j)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(words, 0x0E));
        }
        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool Sha256CompressHardware(unsigned state[8], const unsigned char *blocks, unsigned count)
{
    if (!HaveShaInstructions())
        return false;
    CompressWithInstructions(state, blocks, count);
    return true;
}
#else
bool Sha256CompressHardware(unsigned *, const unsigned char *, unsigned)
{
    return false;
}
#endif

static void Compress(unsigned state[8], const unsigned char *blocks, unsigned count)
{
    if (!Sha256CompressHardware(state, blocks, count))
        Sha256CompressPortable(state, blocks, count);
}

void Sha256Init(Sha256 *context)
{
    static const unsigned kInitial[8] = {
        0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
    };
    CopyBytes(context->state, kInitial, sizeof kInitial);
    context->length = 0;
    context->used = 0;
}

void Sha256Update(Sha256 *context, const void *data, unsigned size)
{
    const unsigned char *in = static_cast<const unsigned char *>(data);
    context->length += size;
    if (context->used) {
        unsigned take = 64 - context->used;
        if (take > size)
            take = size;
        CopyBytes(context->block + context->used, in, take);
        context->used += take;
        in += take;
        size -= take;
        if (context->used < 64)
            return;
        Compress(context->state, context->block, 1);
        context->used = 0;
    }
    unsigned blocks = size / 64;
    if (blocks)
        Compress(context->state, in, blocks);
    in += blocks * 64;
    size -= blocks * 64;
    CopyBytes(context->block, in, size);
    context->used = size;
}

void Sha256Final(Sha256 *context, unsigned char digest[32])
{
    unsigned long long bits = context->length * 8;
    unsigned char *block = context->block;
    unsigned used = context->used;
    block[used++] = 0x80;
    if (used > 56) {
        while (used < 64)
            block[used++] = 0;
        Compress(context->state, block, 1);
        used = 0;
    }
    while (used < 56)
        block[used++] = 0;
    for (unsigned i = 0; i < 8; i++)
        block[56 + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Compress(context->state, block, 1);
    for (unsigned i = 0; i < 32; i++)
        digest[i] = static_cast<unsigned char>(context->state[i / 4] >> (24 - 8 * (i % 4)));
}
