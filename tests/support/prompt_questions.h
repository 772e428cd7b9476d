#pragma once

// The questions the prompters' tests put, the same whether a window or a
// terminal asks them.

#include "remote/prompts.h"

namespace tavo::testing {

// db1's SSH host key on port 2222, not known yet.
inline remote::TrustQuestion unknownHostKey() {
    remote::TrustQuestion q;
    q.protocol = "SSH";
    q.host = "db1";
    q.port = 2222;
    q.keyType = "ssh-ed25519";
    q.fingerprint = "SHA256:abc";
    q.why = "The host's key is not known.";
    return q;
}

// alice's password on db1; the person may name another user.
inline remote::SecretQuestion alicePassword() {
    remote::SecretQuestion q;
    q.protocol = "SSH";
    q.host = "db1";
    q.user = "alice";
    q.askUser = true;
    q.prompt = "Password for alice@db1";
    return q;
}

}  // namespace tavo::testing
