// SHA-512 (FIPS 180-4).
//
// It only hashes a signature's short message, so it is written for size: one rolled round loop with the
// message schedule kept in a ring of 16 words, and every block goes through the context's buffer.
#include "sha512.h"
#include "../../common/text.h"

static const unsigned long long kRoundConstants[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

// The four sigma functions of the standard: three shifts of x packed one to a byte, lowest first. The
// first two terms rotate; the third rotates too in the two round sigmas, and only shifts in the two
// schedule sigmas.
static unsigned long long Sigma(unsigned long long x, unsigned shifts, bool lastRotates)
{
    unsigned long long result = 0;
    for (unsigned i = 0; i < 3; i++, shifts >>= 8) {
        unsigned n = shifts & 0xFF;
        result ^= x >> n;
        if (i < 2 || lastRotates)
            result ^= x << (64 - n);
    }
    return result;
}

static void Compress(unsigned long long state[8], const unsigned char *block)
{
    unsigned long long w[16];
    unsigned long long v[8];
    for (unsigned i = 0; i < 8; i++)
        v[i] = state[i];
    for (unsigned i = 0; i < 80; i++) {
        unsigned long long word;
        if (i < 16) {
            word = 0;
            for (unsigned j = 0; j < 8; j++)
                word = word << 8 | *block++;
        } else {
            word = w[i & 15] + Sigma(w[(i + 1) & 15], 0x070801, false) + w[(i + 9) & 15] +
                   Sigma(w[(i + 14) & 15], 0x063D13, false);
        }
        w[i & 15] = word;
        unsigned long long e = v[4];
        unsigned long long t1 = v[7] + Sigma(e, 0x29120E, true) + (v[6] ^ (e & (v[5] ^ v[6]))) +
                                kRoundConstants[i] + word;
        unsigned long long a = v[0];
        unsigned long long t2 = Sigma(a, 0x27221C, true) + ((a & v[1]) | (v[2] & (a | v[1])));
        for (unsigned j = 7; j > 0; j--)
            v[j] = v[j - 1];
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (unsigned i = 0; i < 8; i++)
        state[i] += v[i];
}

void Sha512Init(Sha512 *context)
{
    static const unsigned long long kInitial[8] = {
        0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
        0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL,
    };
    CopyBytes(context->state, kInitial, sizeof kInitial);
    context->length = 0;
    context->used = 0;
}

void Sha512Update(Sha512 *context, const void *data, unsigned size)
{
    const unsigned char *in = static_cast<const unsigned char *>(data);
    context->length += size;
    while (size--) {
        context->block[context->used++] = *in++;
        if (context->used == 128) {
            Compress(context->state, context->block);
            context->used = 0;
        }
    }
}

static void StoreBigEndian(unsigned char *out, unsigned long long value)
{
    for (unsigned i = 8; i-- > 0; value >>= 8)
        out[i] = static_cast<unsigned char>(value);
}

void Sha512Final(Sha512 *context, unsigned char digest[64])
{
    // The bit count is a 128-bit field; its upper half stays zero for any length below 2^61 bytes.
    unsigned char tail[16] = {0};
    StoreBigEndian(tail + 8, context->length * 8);
    unsigned char padding = 0x80;
    do {
        Sha512Update(context, &padding, 1);
        padding = 0;
    } while (context->used != 112);
    Sha512Update(context, tail, 16);
    for (unsigned i = 0; i < 8; i++)
        StoreBigEndian(digest + 8 * i, context->state[i]);
}
