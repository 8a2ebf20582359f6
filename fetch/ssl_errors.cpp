#include "fetch/ssl_errors.h"

#include <openssl/err.h>

QStringList TakeSslErrorTexts() {
    QStringList texts;
    while (const unsigned long error = ERR_get_error()) {
        char text[121];
        ERR_error_string_n(error, text, sizeof text);
        texts << QString::fromLatin1(text);
    }
    return texts;
}
