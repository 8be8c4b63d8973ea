// The engine's exceptions. Each class has the text the engine raises it with
// as its default message; a raiser may give another text.
#pragma once

#include "platform/Exceptions.h"

class EZipEngineError : public Exception { public: using Exception::Exception; };

#define ZAMBLOK_ENGINE_ERROR(Name, Base, Text)                         \
    class Name : public Base {                                          \
    public:                                                             \
        Name() : Base(Text) {}                                          \
        explicit Name(const std::string& message) : Base(message) {}   \
    }

ZAMBLOK_ENGINE_ERROR(EBadZipFile, EZipEngineError, "Not a valid zip file!");
ZAMBLOK_ENGINE_ERROR(ENotAZipFile, EZipEngineError, "Not a valid zip file!");
ZAMBLOK_ENGINE_ERROR(EIncompleteZip, EZipEngineError, "Incomplete Zip File");
ZAMBLOK_ENGINE_ERROR(EFatalUnzipError, EZipEngineError, "Premature end of file reached");
ZAMBLOK_ENGINE_ERROR(EUserCanceled, EZipEngineError, "User Aborted Operation");
ZAMBLOK_ENGINE_ERROR(EBiggerThanUncompressed, EZipEngineError, "File is larger than uncompressed size!");
ZAMBLOK_ENGINE_ERROR(ENotEnoughRoom, EZipEngineError, "Not enough room to write archive");
ZAMBLOK_ENGINE_ERROR(ECantWriteUCF, EZipEngineError, "Cant write uncompressed file");
ZAMBLOK_ENGINE_ERROR(EConfigFileSaveError, EZipEngineError, "Unable to save Zip Configuration File to disk");
// A directory that had to be rebuilt from the local headers, where that was
// not asked for (TZipReader::CheckDirectory).
ZAMBLOK_ENGINE_ERROR(EDamagedDirectory, EBadZipFile, "its directory is damaged");

// zlib failures stand outside the engine's family.
class EZLibError : public Exception { public: using Exception::Exception; };
ZAMBLOK_ENGINE_ERROR(EZCompressionError, EZLibError, "error");

#undef ZAMBLOK_ENGINE_ERROR
