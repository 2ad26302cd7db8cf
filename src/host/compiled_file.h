// The compiled script file: a text header (magic, version, file name, compile
// time, segment and image lengths, source file table) ended by an empty line,
// then the literal segments and the program image, stored scrambled.
#pragma once

#include "common/byte_buffer.h"
#include "common/result_codes.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

inline constexpr std::string_view kCompiledMagic = "wtnCompiledScript";
inline constexpr std::string_view kCompiledFormatVersion = "2.2.0";

// True when [file] begins with the magic; shorter files are source.
bool IsCompiledFile(std::string_view file) noexcept;

// The text after the last "/" or "\\" of [path] (all of it when there is none).
std::string_view FileNamePart(std::string_view path) noexcept;

// Replaces [out] with the whole compiled file. [fileName] may be a path; its
// file name part goes into the header. Without [hasProgram] the image length
// and table count are written as 0 and [imageCode] and [sourceFiles] are not
// stored. Throws MemAlloc when the file would not fit a buffer.
void EncodeCompiledFile(ByteBuffer& out, std::string_view fileName, const std::vector<std::string>& literals,
                        std::string_view imageCode, const std::map<int32_t, std::string>& sourceFiles, bool hasProgram);

// Writes the bytes EncodeCompiledFile would make to [path], replacing the
// file, without holding the whole file in memory. FileError when the file
// cannot be written; throws MemAlloc where EncodeCompiledFile would.
ereturnvalue WriteCompiledFile(const std::string& path, std::string_view fileName,
                               const std::vector<std::string>& literals, std::string_view imageCode,
                               const std::map<int32_t, std::string>& sourceFiles, bool hasProgram);

// Checks the header of [file] and cuts its unscrambled body into the literal
// segments and the image bytes. Returns OK, or InvalidInput with all three
// outputs left empty. Counts and lengths must be non-negative and fit the file.
ereturnvalue DecodeCompiledFile(const ByteBuffer& file, std::vector<std::string>& literals, std::string& imageCode,
                                std::map<int32_t, std::string>& sourceFiles);

} // namespace tn
