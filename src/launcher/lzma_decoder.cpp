// The worker's decompressor: a range decoder over adaptive bit probabilities, driving LZMA's literals,
// matches and repeated matches. Small rather than fast, as it decodes one program once; safe on any input, as
// the launcher runs whatever its resource holds.
#include "lzma_decoder.h"

typedef unsigned short Probability;

// Where each group of probabilities begins in the work memory; the literal coders take the rest.
enum {
    STATES = 12,
    POS_STATES = 16, // 1 << the largest pb
    LENGTH_LOW = 2,  // after the two choice bits
    LENGTH_MID = LENGTH_LOW + POS_STATES * 8,
    LENGTH_HIGH = LENGTH_MID + POS_STATES * 8,
    LENGTH_CODER = LENGTH_HIGH + 256,
    IS_MATCH = 0,
    IS_REP = IS_MATCH + STATES * POS_STATES,
    IS_REP_G0 = IS_REP + STATES,
    IS_REP_G1 = IS_REP_G0 + STATES,
    IS_REP_G2 = IS_REP_G1 + STATES,
    IS_REP0_LONG = IS_REP_G2 + STATES,
    POS_SLOT = IS_REP0_LONG + STATES * POS_STATES,
    SPEC_POS = POS_SLOT + 4 * 64, // the reverse trees of slots 4 to 13, side by side, from their base distance
    ALIGN = SPEC_POS + 115,
    MATCH_LENGTH = ALIGN + 16,
    REP_LENGTH = MATCH_LENGTH + LENGTH_CODER,
    LITERAL = REP_LENGTH + LENGTH_CODER,
    LITERAL_CODER = 0x300,
};

struct RangeDecoder {
    const unsigned char *next;
    const unsigned char *end;
    unsigned range;
    unsigned code;
    bool cut; // the stream ran out: zeros are read instead, and the main loop stops at the next symbol
};

static void Normalize(RangeDecoder *decoder)
{
    // One byte always suffices: no bit narrows the range by more than 16 bits.
    if (decoder->range >= 1u << 24)
        return;
    unsigned byte = 0;
    if (decoder->next < decoder->end)
        byte = *decoder->next++;
    else
        decoder->cut = true;
    decoder->range <<= 8;
    decoder->code = decoder->code << 8 | byte;
}

static unsigned DecodeBit(RangeDecoder *decoder, Probability *probability)
{
    unsigned bound = (decoder->range >> 11) * *probability;
    unsigned bit = decoder->code >= bound;
    if (bit) {
        decoder->range -= bound;
        decoder->code -= bound;
        *probability -= *probability >> 5;
    } else {
        decoder->range = bound;
        *probability += (2048 - *probability) >> 5;
    }
    Normalize(decoder);
    return bit;
}

// A symbol of `bits` bits, highest first, each bit's probability chosen by the bits before it.
static unsigned DecodeTree(RangeDecoder *decoder, Probability *probabilities, unsigned bits)
{
    unsigned node = 1;
    while (node < 1u << bits)
        node = node << 1 | DecodeBit(decoder, probabilities + node);
    return node - (1u << bits);
}

// The same, lowest bit first.
static unsigned DecodeReverseTree(RangeDecoder *decoder, Probability *probabilities, unsigned bits)
{
    unsigned node = 1, symbol = 0;
    for (unsigned i = 0; i < bits; i++) {
        unsigned bit = DecodeBit(decoder, probabilities + node);
        node = node << 1 | bit;
        symbol |= bit << i;
    }
    return symbol;
}

// Bits of even odds, for the middle of long distances.
static unsigned DecodeDirectBits(RangeDecoder *decoder, unsigned bits)
{
    unsigned value = 0;
    while (bits--) {
        decoder->range >>= 1;
        unsigned bit = decoder->code >= decoder->range;
        if (bit)
            decoder->code -= decoder->range;
        value = value << 1 | bit;
        Normalize(decoder);
    }
    return value;
}

// A match length less 2: 0-7 and 8-15 from trees of the position state, 16-271 from one shared tree.
static unsigned DecodeLength(RangeDecoder *decoder, Probability *probabilities, unsigned posState)
{
    if (!DecodeBit(decoder, probabilities))
        return DecodeTree(decoder, probabilities + LENGTH_LOW + posState * 8, 3);
    if (!DecodeBit(decoder, probabilities + 1))
        return 8 + DecodeTree(decoder, probabilities + LENGTH_MID + posState * 8, 3);
    return 16 + DecodeTree(decoder, probabilities + LENGTH_HIGH, 8);
}

// A match distance less 1, after its length less 2: a slot (the top two bits and the bit count), then the
// bits below the top two. 0xFFFFFFFF is the end marker.
static unsigned DecodeDistance(RangeDecoder *decoder, Probability *probabilities, unsigned length)
{
    unsigned slot = DecodeTree(decoder, probabilities + POS_SLOT + (length < 3 ? length : 3) * 64, 6);
    if (slot < 4)
        return slot;
    unsigned bits = (slot >> 1) - 1;
    unsigned distance = (2 | (slot & 1)) << bits;
    if (slot < 14)
        return distance + DecodeReverseTree(decoder, probabilities + (SPEC_POS + distance - slot), bits);
    distance += DecodeDirectBits(decoder, bits - 4) << 4;
    return distance + DecodeReverseTree(decoder, probabilities + ALIGN, 4);
}

unsigned LzmaWorkSize(unsigned properties)
{
    unsigned literalBits = properties % 9 + properties / 9 % 5;
    if (properties >= 9 * 5 * 5 || literalBits > 4)
        return 0;
    return (LITERAL + (LITERAL_CODER << literalBits)) * sizeof(Probability);
}

bool LzmaDecode(unsigned properties, const unsigned char *packed, unsigned packedSize, void *work,
                unsigned char *out, unsigned capacity, unsigned *written)
{
    unsigned workSize = LzmaWorkSize(properties);
    // The range coder's first byte is always 0.
    if (!workSize || packedSize < 5 || packed[0])
        return false;
    Probability *probabilities = static_cast<Probability *>(work);
    for (unsigned i = 0; i < workSize / sizeof(Probability); i++)
        probabilities[i] = 1024;
    unsigned lc = properties % 9;
    unsigned lpMask = (1u << properties / 9 % 5) - 1;
    unsigned pbMask = (1u << properties / 45) - 1;
    RangeDecoder decoder = {packed + 5, packed + packedSize, 0xFFFFFFFF, 0, false};
    for (unsigned i = 1; i < 5; i++)
        decoder.code = decoder.code << 8 | packed[i];
    // The last four distances less 1, most recent first, and the state: what the last few symbols were.
    unsigned reps[4] = {0, 0, 0, 0};
    unsigned state = 0, position = 0;
    for (;;) {
        if (decoder.cut)
            return false;
        unsigned posState = position & pbMask;
        if (!DecodeBit(&decoder, probabilities + IS_MATCH + state * POS_STATES + posState)) {
            if (position == capacity)
                return false;
            unsigned previous = position ? out[position - 1] : 0;
            Probability *coder = probabilities + LITERAL +
                                 LITERAL_CODER * (((position & lpMask) << lc) + (previous >> (8 - lc)));
            // After a match the byte at the last distance predicts this one, while their bits agree.
            unsigned matching = state < 7 ? 0 : 0x100;
            unsigned match = matching ? out[position - reps[0] - 1] : 0;
            unsigned symbol = 1;
            while (symbol < 0x100) {
                match <<= 1;
                unsigned matchBit = match & matching;
                unsigned bit = DecodeBit(&decoder, coder + matching + matchBit + symbol);
                symbol = symbol << 1 | bit;
                if (bit << 8 != matchBit)
                    matching = 0;
            }
            out[position++] = static_cast<unsigned char>(symbol);
            state = state < 4 ? 0 : state < 10 ? state - 3 : state - 6;
            continue;
        }
        unsigned length;
        if (DecodeBit(&decoder, probabilities + IS_REP + state)) {
            // One of the last four distances; the one used moves to the front.
            unsigned used = 0;
            if (DecodeBit(&decoder, probabilities + IS_REP_G0 + state)) {
                used = 1;
                if (DecodeBit(&decoder, probabilities + IS_REP_G1 + state))
                    used = 2 + DecodeBit(&decoder, probabilities + IS_REP_G2 + state);
            } else if (!DecodeBit(&decoder, probabilities + IS_REP0_LONG + state * POS_STATES + posState)) {
                used = 4; // a single byte from the last distance
            }
            if (used == 4) {
                length = 1;
                state = state < 7 ? 9 : 11;
            } else {
                unsigned distance = reps[used];
                for (; used; used--)
                    reps[used] = reps[used - 1];
                reps[0] = distance;
                length = DecodeLength(&decoder, probabilities + REP_LENGTH, posState) + 2;
                state = state < 7 ? 8 : 11;
            }
        } else {
            reps[3] = reps[2];
            reps[2] = reps[1];
            reps[1] = reps[0];
            length = DecodeLength(&decoder, probabilities + MATCH_LENGTH, posState);
            reps[0] = DecodeDistance(&decoder, probabilities, length);
            length += 2;
            state = state < 7 ? 7 : 10;
            if (reps[0] == 0xFFFFFFFF) {
                // A whole stream leaves the code at 0 exactly where its bytes end.
                *written = position;
                return !decoder.cut && decoder.code == 0 && decoder.next == decoder.end;
            }
        }
        if (reps[0] >= position || length > capacity - position)
            return false;
        const unsigned char *from = out + (position - reps[0] - 1);
        for (unsigned i = 0; i < length; i++)
            out[position + i] = from[i];
        position += length;
    }
}
