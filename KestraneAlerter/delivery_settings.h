// The settings of one transporter of a profile: how and where to notify,
// and what the report text holds. Stored in the profile file as a record
// that starts with the kind's type key line.
#ifndef KESTRANE_ALERTER_DELIVERY_SETTINGS_H_
#define KESTRANE_ALERTER_DELIVERY_SETTINGS_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace kst {

class TextReader;

inline constexpr char kMailTypeName[] = "MailDeliverySystem\n";
inline constexpr char kNetSendTypeName[] = "NetSendDeliverySystem\n";
inline constexpr char kShellTypeName[] = "ShellDeliverySystem\n";

class DeliverySettings {
 public:
  virtual ~DeliverySettings() = default;

  // A heap copy of the same kind; the caller owns it.
  virtual DeliverySettings* clone() const = 0;
  // Reads the record that follows the type key line; 0 or -1. A failure
  // leaves the fields read so far.
  virtual int load(TextReader& in) = 0;
  // Writes the whole record, type key line first; 0, or -1 at the first
  // failed write.
  virtual int save(std::FILE* out) const = 0;
  // The type key line, line end included.
  virtual const char* typeName() const = 0;

  std::string name;
  int32_t maxMessageLength = 1000;
  int32_t minimalWait = 0;
  bool includeComments = true;
  bool includeAnalyzerTitles = true;
  bool includeDescription = true;
  bool includeCounterNames = true;

 protected:
  explicit DeliverySettings(std::string name) : name(std::move(name)) {}
  DeliverySettings(const DeliverySettings&) = default;
  DeliverySettings& operator=(const DeliverySettings&) = default;

  // The name, numbers and flags: the part every kind shares.
  int loadCommon(TextReader& in);
  int saveCommon(std::FILE* out) const;
  // One string of the kind; the line "-" stands for the empty string.
  static int loadString(TextReader& in, std::string* value);
  static int saveString(std::FILE* out, const std::string& value);
};

class MailDeliverySettings final : public DeliverySettings {
 public:
  explicit MailDeliverySettings(std::string name) : DeliverySettings(std::move(name)) {}
  MailDeliverySettings(const MailDeliverySettings&) = default;

  MailDeliverySettings* clone() const override { return new MailDeliverySettings(*this); }
  int load(TextReader& in) override;
  int save(std::FILE* out) const override;
  const char* typeName() const override { return kMailTypeName; }

  std::string recipient;
  std::string sender;
  std::string mailServer;
};

// The net send and program kinds have records of one shape: the shared
// part and one string.
class SingleStringSettings : public DeliverySettings {
 public:
  int load(TextReader& in) override;
  int save(std::FILE* out) const override;

 protected:
  using DeliverySettings::DeliverySettings;
  SingleStringSettings(const SingleStringSettings&) = default;
  virtual const std::string& value() const = 0;
  virtual std::string& value() = 0;
};

class NetSendDeliverySettings final : public SingleStringSettings {
 public:
  explicit NetSendDeliverySettings(std::string name) : SingleStringSettings(std::move(name)) {}
  NetSendDeliverySettings(const NetSendDeliverySettings&) = default;

  NetSendDeliverySettings* clone() const override { return new NetSendDeliverySettings(*this); }
  const char* typeName() const override { return kNetSendTypeName; }

  std::string destination;

 private:
  const std::string& value() const override { return destination; }
  std::string& value() override { return destination; }
};

class ShellDeliverySettings final : public SingleStringSettings {
 public:
  explicit ShellDeliverySettings(std::string name) : SingleStringSettings(std::move(name)) {}
  ShellDeliverySettings(const ShellDeliverySettings&) = default;

  ShellDeliverySettings* clone() const override { return new ShellDeliverySettings(*this); }
  const char* typeName() const override { return kShellTypeName; }

  std::string executionFilePath;

 private:
  const std::string& value() const override { return executionFilePath; }
  std::string& value() override { return executionFilePath; }
};

}  // namespace kst

#endif  // KESTRANE_ALERTER_DELIVERY_SETTINGS_H_
