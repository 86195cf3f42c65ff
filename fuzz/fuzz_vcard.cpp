// Fuzz target: a .vcf file as the import reads it: the input (after the
// control byte) is the file, laid in an address-book directory; the vCard
// source lists its cards and converts each into a contact or group record.
#include <string>

#include "fuzz/fuzz_support.h"
#include "host/store/item_store.h"
#include "host/vcard/vcard_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  fuzz::Input input;
  input.control = data[0];
  fuzz::BeginRun(input, 0, 0);
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  fuzz::WriteImportFile("contacts/Friends/fuzz.vcf", text);
  const std::string &dir = fuzz::ImportDir();
  std::unique_ptr<store::ImportSource> source =
      vcard::MakeVcardImportSource(dir.substr(0, dir.size() - 1));
  fuzz::ImportAll(source.get());
  fuzz::EndRun();
  return 0;
}
