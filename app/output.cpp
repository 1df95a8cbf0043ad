#include "app/output.h"

bool writeOutput(std::FILE *stream, QByteArrayView bytes)
{
    const auto size = std::size_t(bytes.size());
    return std::fwrite(bytes.data(), 1, size, stream) == size && std::fflush(stream) == 0;
}
