#include "surftools/outputfile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Exact powers of ten: every 10^k up to 10^22 is a double without rounding.
const double kPowersOfTen[23] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 };

// |value| scaled by 10^(5 - exponent), correctly rounded, or a negative number
// when the power of ten is not exact.
double Scaled(double magnitude, int exponent)
{
  const int shift = 5 - exponent;
  if (shift >= 0 && shift <= 22)
  {
    return magnitude * kPowersOfTen[shift];
  }
  if (shift < 0 && shift >= -22)
  {
    return magnitude / kPowersOfTen[-shift];
  }
  return -1.0;
}

// The six significant digits of a finite nonzero magnitude, rounded, and
// its decimal exponent: false when the magnitude is too close to a rounding
// or decade boundary to settle them with one correctly rounded scaling (the
// caller then takes the slow path). The scaled value is below 1e6, so its
// error is at most about 1.2e-10: a margin of 1e-7 around every boundary
// leaves no doubt.
bool SixDigits(double magnitude, char d[6], int& exponent)
{
  if (!(magnitude >= 1e-17 && magnitude < 1e22))
  {
    return false; // outside the exact powers of ten (NaN included)
  }
  // Decimal exponent from the binary one: floor(log10(2^(b - 1))) is exact or
  // one too small, and the loop below settles it.
  uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int binaryExponent = static_cast<int>(bits >> 52) - 1023;
  exponent = binaryExponent >= 0 ? binaryExponent * 30103 / 100000 : -((-binaryExponent * 30103 + 99999) / 100000);
  double scaled = Scaled(magnitude, exponent);
  for (int step = 0; step < 2 && scaled >= 1e6 - 1e-7; ++step)
  {
    scaled = Scaled(magnitude, ++exponent);
  }
  for (int step = 0; step < 2 && scaled < 1e5 - 1e-7; ++step)
  {
    scaled = Scaled(magnitude, --exponent);
  }
  if (scaled < 1e5 + 1e-7 || scaled >= 1e6 - 1e-7)
  {
    return false; // right at a decade boundary
  }
  long digits = static_cast<long>(scaled); // scaled is positive: truncation is floor
  const double fraction = scaled - static_cast<double>(digits);
  if (std::fabs(fraction - 0.5) < 1e-7)
  {
    return false; // a tie or near tie: printf rounds the exact binary value
  }
  if (fraction > 0.5)
  {
    ++digits;
  }
  if (digits == 1000000)
  {
    digits = 100000;
    ++exponent;
  }
  for (int i = 5; i >= 0; --i)
  {
    d[i] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  return true;
}

// Writes six digits d[0..5] of decimal exponent `exponent` as "%g" does:
// trailing zeros dropped, exponent notation below 1e-4 and from 1e6 on.
char* WriteDigits(const char d[6], int exponent, char* p)
{
  int last = 5; // last significant digit after removing trailing zeros
  while (last > 0 && d[last] == '0')
  {
    --last;
  }
  if (exponent < -4 || exponent >= 6)
  {
    *p++ = d[0];
    if (last > 0)
    {
      *p++ = '.';
      p = std::copy(d + 1, d + last + 1, p);
    }
    *p++ = 'e';
    *p++ = exponent < 0 ? '-' : '+';
    int e = exponent < 0 ? -exponent : exponent;
    if (e >= 100)
    {
      *p++ = static_cast<char>('0' + e / 100);
      e %= 100;
    }
    *p++ = static_cast<char>('0' + e / 10);
    *p++ = static_cast<char>('0' + e % 10);
    return p;
  }
  if (exponent >= 0)
  {
    p = std::copy(d, d + exponent + 1, p);
    if (last > exponent)
    {
      *p++ = '.';
      p = std::copy(d + exponent + 1, d + last + 1, p);
    }
    return p;
  }
  *p++ = '0';
  *p++ = '.';
  p = std::fill_n(p, -1 - exponent, '0');
  return std::copy(d, d + last + 1, p);
}

// The "%g" text of a finite nonzero value, or 0 when SixDigits cannot settle
// its digits.
int FormatQuick(double value, char* text)
{
  char d[6];
  int exponent;
  if (!SixDigits(std::fabs(value), d, exponent))
  {
    return 0;
  }
  char* p = text;
  if (value < 0)
  {
    *p++ = '-';
  }
  return static_cast<int>(WriteDigits(d, exponent, p) - text);
}
}

int FormatNumber(double value, char* text)
{
  if (std::isfinite(value) && value != 0.0)
  {
    if (const int length = FormatQuick(value, text))
    {
      return length;
    }
  }
  // std::to_chars with a precision is specified as printf's conversion of the
  // same precision: the same text, slower.
  const auto result = std::to_chars(text, text + kNumberTextSize, value, std::chars_format::general, 6);
  return static_cast<int>(result.ptr - text);
}

int FormatInteger(long long value, char* text)
{
  const auto result = std::to_chars(text, text + kNumberTextSize, value);
  return static_cast<int>(result.ptr - text);
}

void WriteNumber(std::ostream& out, double value)
{
  char text[kNumberTextSize];
  WriteText(out, text, FormatNumber(value, text));
}

void WriteText(std::ostream& out, const char* text, std::streamsize length)
{
  // Straight into the buffer: the stream's own write builds a sentry per call.
  if (!out.rdbuf() || out.rdbuf()->sputn(text, length) != length)
  {
    out.setstate(std::ios::badbit);
  }
}

namespace
{
constexpr size_t kOutputBufferSize = 256 << 10;
}

OutputFile::FileBuffer::FileBuffer(int descriptor)
  : Descriptor(descriptor)
  , Space(new char[kOutputBufferSize])
{
  this->setp(this->Space.get(), this->Space.get() + kOutputBufferSize);
}

OutputFile::FileBuffer::~FileBuffer()
{
  this->Close();
}

bool OutputFile::FileBuffer::Drain()
{
  const char* at = this->pbase();
  const char* const end = this->pptr();
  while (at < end && !this->Failed)
  {
    const ssize_t written = ::write(this->Descriptor, at, static_cast<size_t>(end - at));
    if (written > 0)
    {
      at += written;
    }
    else if (written < 0 && errno != EINTR)
    {
      this->Failed = true;
    }
  }
  // What could not be written is dropped, and so is all that follows.
  this->setp(this->Space.get(), this->Space.get() + kOutputBufferSize);
  return !this->Failed;
}

OutputFile::FileBuffer::int_type OutputFile::FileBuffer::overflow(int_type c)
{
  if (!this->Drain())
  {
    return traits_type::eof();
  }
  if (!traits_type::eq_int_type(c, traits_type::eof()))
  {
    *this->pptr() = traits_type::to_char_type(c);
    this->pbump(1);
  }
  return traits_type::not_eof(c);
}

std::streamsize OutputFile::FileBuffer::xsputn(const char* text, std::streamsize length)
{
  std::streamsize done = 0;
  while (done < length)
  {
    if (this->pptr() == this->epptr() && !this->Drain())
    {
      break;
    }
    const std::streamsize room = this->epptr() - this->pptr();
    const std::streamsize part = std::min(room, length - done);
    std::memcpy(this->pptr(), text + done, static_cast<size_t>(part));
    this->pbump(static_cast<int>(part));
    done += part;
  }
  return this->Failed ? 0 : done;
}

int OutputFile::FileBuffer::sync()
{
  return this->Drain() ? 0 : -1;
}

bool OutputFile::FileBuffer::Close()
{
  if (this->Descriptor < 0)
  {
    return !this->Failed;
  }
  this->Drain();
  if (::close(this->Descriptor) != 0)
  {
    this->Failed = true;
  }
  this->Descriptor = -1;
  return !this->Failed;
}

OutputFile::OutputFile()
  : std::ostream(nullptr)
{
  this->setstate(std::ios::badbit);
}

OutputFile::OutputFile(const char* path, bool append)
  : std::ostream(nullptr)
{
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  const int descriptor = ::open(path, flags, 0666);
  if (descriptor < 0)
  {
    this->setstate(std::ios::badbit);
    return;
  }
  this->Buffer.reset(new FileBuffer(descriptor));
  this->rdbuf(this->Buffer.get());
}

OutputFile::OutputFile(OutputFile&& other) noexcept
  : std::ostream(std::move(other))
  , Buffer(std::move(other.Buffer))
{
  this->set_rdbuf(this->Buffer.get());
  other.set_rdbuf(nullptr);
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept
{
  if (this != &other)
  {
    this->Buffer.reset();
    std::ostream::operator=(std::move(other));
    this->Buffer = std::move(other.Buffer);
    this->set_rdbuf(this->Buffer.get());
    other.set_rdbuf(nullptr);
  }
  return *this;
}

OutputFile::~OutputFile() = default;

bool OutputFile::is_open() const
{
  return this->Buffer != nullptr;
}

void OutputFile::close()
{
  if (this->Buffer && !this->Buffer->Close())
  {
    this->setstate(std::ios::badbit);
  }
}

OutputFile OpenOutputFile(const char* path, bool append)
{
  return OutputFile(path, append);
}

bool CloseOutputFile(OutputFile& out, const char* path)
{
  const bool created = out.is_open();
  if (created)
  {
    out.close();
  }
  if (created && !out.fail())
  {
    return true;
  }
  std::cout << (created ? "Cannot write output file " : "Cannot create output file ") << path << '\n';
  return false;
}

bool WriteOutputFile(const char* path, const char* data, size_t length)
{
  OutputFile out(path, false);
  if (out.is_open())
  {
    WriteText(out, data, static_cast<std::streamsize>(length));
  }
  return CloseOutputFile(out, path);
}

std::string NumberText(double value)
{
  char text[kNumberTextSize];
  return std::string(text, static_cast<size_t>(FormatNumber(value, text)));
}

bool SameFileAsAny(const char* path, const char* const* paths, int count)
{
  struct stat file;
  if (stat(path, &file) != 0)
  {
    return false;
  }
  for (int i = 0; i < count; ++i)
  {
    struct stat other;
    if (stat(paths[i], &other) == 0 && other.st_dev == file.st_dev && other.st_ino == file.st_ino)
    {
      return true;
    }
  }
  return false;
}
