#include "TsOutputs.h"

TsOutputs::~TsOutputs()
{
    for (size_t i = 0; i < files.size(); ++i)
        if (owned[i])
            std::fclose(files[i]);
}

bool TsOutputs::addStream(const OutputTarget& target, std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (target.kind == OutputKind::Stdout) {
        files.push_back(stdout);
        owned.push_back(false);
        return true;
    }
    std::FILE* f = std::fopen(target.path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot create output file '" + target.path + "'";
        return false;
    }
    files.push_back(f);
    owned.push_back(true);
    return true;
}

void TsOutputs::addWriter(std::function<void(const uint8_t*, size_t)> writer)
{
    std::lock_guard<std::mutex> lock(mutex);
    writers.push_back(std::move(writer));
}

void TsOutputs::write(const uint8_t* bytes, size_t length)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (std::FILE* f : files)
        std::fwrite(bytes, 1, length, f);
    for (const auto& w : writers)
        w(bytes, length);
}

void TsOutputs::flush()
{
    std::lock_guard<std::mutex> lock(mutex);
    for (std::FILE* f : files)
        std::fflush(f);
}
