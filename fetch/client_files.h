#pragma once

// The client certificate and its key, named relative to the current directory, and
// the fixed pass phrase that unlocks the key. scripts/prepare-bin reads the pass
// phrase from the line below when it makes a pair, so keep its form.
constexpr char ClientCertFile[] = "01cert.pem";
constexpr char ClientKeyFile[] = "01key.pem";
constexpr char ClientKeyPassPhrase[] = "vintrosk";
