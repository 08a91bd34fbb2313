// The pinned publisher: a host application may name, in the registry value
// HKLM\Software\Mevo\Tarnix.exe\UpdateSigner, the SHA-256 thumbprints of the
// certificates (64 hexadecimal digits each, separated by ";") that its updates
// must be signed with. No chain, no network: the pin is the trust.
#pragma once

#include <string>

#include "archive/Authenticode.h"

struct PublisherVerdict {
    bool accepted = true;
    std::string text;  // the log's lines; empty when there is nothing to say
    int level = 1;     // 2: the plain log, 1: only the extended one
};

// What the run does with a package of `signer` (checked against the file when
// `pins` is set) under the value `pins`: without pins, what it did before,
// naming the signer in the extended log; with them, only a matching signature
// by a named certificate goes on. An item that is no thumbprint matches nothing.
PublisherVerdict JudgePublisher(const std::string& pins, const Signer& signer);

// The value UpdateSigner of the host application into `pins` (empty when it is
// not set); false when the value or its key is there but cannot be read (another
// type, no access): the pin then admits nothing rather than turning off.
bool PinnedPublishers(std::string& pins);
