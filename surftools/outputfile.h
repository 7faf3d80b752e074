// Output text files shared by every tool: opening, closing with a check, and
// the text form of numbers.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

// Writes a number as a default-formatted stream does: general notation with
// six significant digits, exactly the text of printf's "%g". A float is
// widened to double first, so a float and a double of one value read alike.
void WriteNumber(std::ostream& out, double value);

// The same text into `text` (at least kNumberTextSize characters, not
// terminated); returns its length.
constexpr int kNumberTextSize = 32;
int FormatNumber(double value, char* text);

// The same text as a string.
std::string NumberText(double value);

// An integer in plain decimal into `text` (at least kNumberTextSize
// characters, not terminated); returns its length.
int FormatInteger(long long value, char* text);

// A text file open for writing, through a buffer of its own of 256 KB, so
// that files of many short lines cost little. A file that cannot be created
// leaves the stream failed: writes to it are dropped and CloseOutputFile
// reports it. Movable, not copyable.
class OutputFile : public std::ostream
{
public:
  OutputFile();
  // Creates or truncates the file (appends to it when `append` is true).
  OutputFile(const char* path, bool append);
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  ~OutputFile() override;

  bool is_open() const;
  // Writes out what is buffered and closes the file; a failed write or
  // close marks the stream bad.
  void close();

  // Appends `length` characters as they are, straight into the buffer.
  void Append(const char* text, size_t length)
  {
    if (!this->Buffer || !this->Buffer->Put(text, length))
    {
      this->setstate(std::ios::badbit);
    }
  }

private:
  class FileBuffer : public std::streambuf
  {
  public:
    explicit FileBuffer(int descriptor);
    ~FileBuffer() override;
    bool Put(const char* text, size_t length)
    {
      if (length <= static_cast<size_t>(this->epptr() - this->pptr()))
      {
        std::memcpy(this->pptr(), text, length);
        this->pbump(static_cast<int>(length));
        return true;
      }
      return this->xsputn(text, static_cast<std::streamsize>(length)) == static_cast<std::streamsize>(length);
    }
    bool Close();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize length) override;
    int sync() override;

  private:
    bool Drain();
    int Descriptor;
    bool Failed = false;
    std::unique_ptr<char[]> Space;
  };
  std::unique_ptr<FileBuffer> Buffer;
};

// Writes `length` characters as they are; a short write marks the stream bad.
void WriteText(std::ostream& out, const char* text, std::streamsize length);
inline void WriteText(OutputFile& out, const char* text, std::streamsize length)
{
  out.Append(text, static_cast<size_t>(length));
}

// Opens a text file for writing, created or truncated (appended to when
// `append` is true). A file that cannot be created leaves the stream failed:
// writes to it are dropped and CloseOutputFile reports it.
OutputFile OpenOutputFile(const char* path, bool append = false);

// Closes a file from OpenOutputFile. Returns true when the file was created
// and every byte reached it; otherwise prints one line naming the file on
// standard output and returns false.
bool CloseOutputFile(OutputFile& out, const char* path);

// Writes a whole file at once from memory (created or truncated, the bytes as
// they are: a binary file or a text made beforehand). Returns true when every
// byte reached the file; otherwise reports as CloseOutputFile and returns false.
bool WriteOutputFile(const char* path, const char* data, size_t length);

// Whether `path` names an existing file that is also one of the `count`
// files named in `paths` (the same file under another name included).
bool SameFileAsAny(const char* path, const char* const* paths, int count);
