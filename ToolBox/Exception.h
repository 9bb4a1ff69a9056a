#pragma once
// The library's exceptions. They are raised as pointers (`throw new
// EIllegalArgument(...)`, `throw &theOutOfMemory`) and nothing catches them, so a
// raised exception ends the process; the self-logging ones leave their class,
// message, source and line in the log first.

namespace toolbox {

class Exception {
public:
    virtual ~Exception();
    Exception(const Exception&) = delete;
    Exception& operator=(const Exception&) = delete;

    const char* getClassName() const { return className; }
    int getLine() const { return line; }
    const char* getMessage() const { return message; }
    const char* getSourceFile() const { return sourceFile; }

protected:
    /// Keeps copies of message and of the part of sourceFile after its last
    /// backslash (or slash, for Linux paths).
    Exception(const char* className, const char* message, const char* sourceFile, int line);
    /// For the preconstructed out-of-memory object: nothing is copied or freed.
    constexpr Exception(const char* className, const char* staticMessage,
                        const char* staticSourceFile)
        : className(className),
          line(0),
          message(const_cast<char*>(staticMessage)),
          sourceFile(const_cast<char*>(staticSourceFile)),
          owned(false) {}

private:
    const char* className;
    int line;
    char* message;
    char* sourceFile;
    bool owned = true;
};

/// Base of the exceptions that write "%s.\nMessage: %s" at level Exception as
/// they are constructed.
class EAutoBreaking : public Exception {
protected:
    EAutoBreaking(const char* className, const char* message, const char* sourceFile, int line);
};

class EIllegalArgument : public EAutoBreaking {
public:
    EIllegalArgument(const char* message, const char* sourceFile, int line);
};

class EIllegalState : public EAutoBreaking {
public:
    EIllegalState(const char* message, const char* sourceFile, int line);
};

class EOutOfMemory : public Exception {
public:
    constexpr EOutOfMemory() : Exception("EOutOfMemory", "Insufficient free memory", "No info") {}
};

/// The one out-of-memory object: constant-initialised, so it exists before any
/// other static object runs, and never deleted.
extern EOutOfMemory theOutOfMemory;

}  // namespace toolbox
