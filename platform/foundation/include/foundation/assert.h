// The assertion facility: internal consistency checks that stay active in every build and throw.
#pragma once

// kfAssertFailed(file, line, assumption): throws kcInvariantFailure whose message names the source
// position and the broken assumption. Never returns. Called only through KC_ASSERT.
[[noreturn]] void kfAssertFailed(const char* file, int line, const char* assumption);

// KC_ASSERT(cond, assumption): when cond is false, throws kcInvariantFailure. Not compiled out in
// release builds: checks that guard memory safety rely on it. assumption is a narrow string literal
// stating what should have held.
#define KC_ASSERT(cond, assumption)                                          \
  do {                                                                       \
    if (!(cond)) [[unlikely]] ::kfAssertFailed(__FILE__, __LINE__, assumption); \
  } while (false)
