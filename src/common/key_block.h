// The publisher key block: the launcher carries it, the publishing tool writes keys into a built launcher in
// place, and the worker reads it from the launcher file. Plain definitions, so that launcher.rc can use them;
// scripts/publish holds the same layout, and tests/tools/test_publish.py checks the two against each other.
#pragma once

// Type RT_RCDATA, neutral language.
#define KEY_BLOCK_ID 102

// The block opens with this mark (its bytes without a terminating zero), then the slots follow.
#define KEY_BLOCK_MARK "KOVREL-PUBKEYS-1"
#define KEY_BLOCK_MARK_BYTES 16

// Each slot holds an Ed25519 public key; an all-zero slot is empty. Two slots let a publisher rotate keys.
#define KEY_BLOCK_SLOTS 2
#define KEY_BLOCK_KEY_BYTES 32
#define KEY_BLOCK_SLOT_OFFSET(slot) (KEY_BLOCK_MARK_BYTES + (slot) * KEY_BLOCK_KEY_BYTES)
#define KEY_BLOCK_BYTES KEY_BLOCK_SLOT_OFFSET(KEY_BLOCK_SLOTS)
