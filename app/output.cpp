#include "app/output.h"

bool writeOutput(std::FILE *stream, QByteArrayView bytes)
{
    // An empty view may have no data at all, which fwrite must not be given.
    const auto size = std::size_t(bytes.size());
    return (size == 0 || std::fwrite(bytes.data(), 1, size, stream) == size) && std::fflush(stream) == 0;
}
