// Fuzz target: one message file of a Maildir as the import reads it: the
// input (after the control byte) is the file, laid in INBOX's cur/ with the
// seen flag when the control byte's bit 3 is set, else in new/; the Maildir
// source lists it, takes its identity and converts it into a record.
#include <string>

#include "fuzz/fuzz_support.h"
#include "host/maildir/maildir_store.h"
#include "host/store/item_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  fuzz::Input input;
  input.control = data[0];
  fuzz::BeginRun(input, 0, 0);
  const std::string message(reinterpret_cast<const char *>(data + 1), size - 1);
  fuzz::WriteImportFile((input.control & 0x08) ? "mail/INBOX/cur/1700000000.1.fuzz:2,S"
                                                : "mail/INBOX/new/1700000000.1.fuzz",
                        message);
  const std::string &dir = fuzz::ImportDir();
  std::unique_ptr<store::ImportSource> source =
      maildir::MakeMaildirImportSource(dir.substr(0, dir.size() - 1));
  fuzz::ImportAll(source.get());
  fuzz::EndRun();
  return 0;
}
