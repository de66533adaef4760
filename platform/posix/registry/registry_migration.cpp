#include "platform/posix/registry/registry_migration.h"

#include <string>
#include <vector>

#include <opossvc/win32/errors.h>

#include "platform/posix/text/ansi_codepage.h"
#include "platform/posix/registry/registry_names.h"
#include "platform/posix/registry/registry_schema.h"
#include "platform/posix/registry/registry_text.h"
#include "platform/posix/registry/sqlite_connection.h"

namespace opossvc::detail {
namespace {

struct OldKey {
  KeyId id;
  KeyId parent;
  RegistryName name;
  std::string class_name;  // UTF-8
  int64_t written;
};

struct OldValue {
  KeyId key_id;
  int64_t seq;
  RegistryName name;
  int64_t type;
  std::string data;  // as format 2 keeps it
};

// Decodes format 1 text exactly; false when it holds a byte sequence that
// is no character of the code page.
class Decoder {
 public:
  explicit Decoder(UINT codepage) : converter_(&ConverterOrUtf8(codepage)) {}
  bool Decode(std::string_view bytes, std::u16string* text) {
    return converter_->Decode(bytes, OnUndecodable::kFail, text);
  }

 private:
  CodePageConverter* converter_;
};

LONG ReadKeys(SqliteConnection& connection, Decoder& decoder, std::vector<OldKey>* keys) {
  Statement query(connection, "SELECT id, parent, name, class, written FROM reg_key ORDER BY id");
  if (query.status() != ERROR_SUCCESS) return query.status();
  std::u16string name, class_name;
  int result;
  while ((result = query.Step()) == SQLITE_ROW) {
    if (!decoder.Decode(query.Blob(2), &name) || !decoder.Decode(query.Blob(3), &class_name)) {
      return ERROR_NO_UNICODE_TRANSLATION;
    }
    keys->push_back(OldKey{query.Int(0), query.Int(1), MakeName(name),
                           Utf16ToAnsi(class_name, kUtf8CodePage), query.Int(4)});
  }
  return result == SQLITE_DONE ? ERROR_SUCCESS : query.Error(result);
}

LONG ReadValues(SqliteConnection& connection, Decoder& decoder, std::vector<OldValue>* values) {
  Statement query(connection, "SELECT key_id, seq, name, type, data FROM reg_value");
  if (query.status() != ERROR_SUCCESS) return query.status();
  std::u16string name, text;
  int result;
  while ((result = query.Step()) == SQLITE_ROW) {
    const int64_t type = query.Int(3);
    std::string data(query.Blob(4));
    if (!decoder.Decode(query.Blob(2), &name)) return ERROR_NO_UNICODE_TRANSLATION;
    if (IsStringType(static_cast<DWORD>(type))) {
      if (!decoder.Decode(data, &text)) return ERROR_NO_UNICODE_TRANSLATION;
      data = Utf16LeBytes(text);
    }
    values->push_back(OldValue{query.Int(0), query.Int(1), MakeName(name), type, std::move(data)});
  }
  return result == SQLITE_DONE ? ERROR_SUCCESS : query.Error(result);
}

LONG WriteKeys(SqliteConnection& connection, const std::vector<OldKey>& keys) {
  Statement insert(connection,
                   "INSERT INTO reg_key(id, parent, name, upper, class, written) "
                   "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  if (insert.status() != ERROR_SUCCESS) return insert.status();
  for (const OldKey& key : keys) {
    insert.Reset();
    insert.Bind(1, key.id);
    insert.Bind(2, key.parent);
    insert.Bind(3, key.name.text);
    insert.BindBlob(4, key.name.key);
    insert.Bind(5, key.class_name);
    insert.Bind(6, key.written);
    const int result = insert.Step();
    if (result != SQLITE_DONE) return insert.Error(result);
  }
  return ERROR_SUCCESS;
}

LONG WriteValues(SqliteConnection& connection, const std::vector<OldValue>& values) {
  Statement insert(connection,
                   "INSERT INTO reg_value(key_id, seq, name, upper, type, data) "
                   "VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  if (insert.status() != ERROR_SUCCESS) return insert.status();
  for (const OldValue& value : values) {
    insert.Reset();
    insert.Bind(1, value.key_id);
    insert.Bind(2, value.seq);
    insert.Bind(3, value.name.text);
    insert.BindBlob(4, value.name.key);
    insert.Bind(5, value.type);
    insert.BindBlob(6, value.data);
    const int result = insert.Step();
    if (result != SQLITE_DONE) return insert.Error(result);
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG MigrateFirstFormat(SqliteConnection& connection, UINT codepage) {
  Decoder decoder(codepage);
  std::vector<OldKey> keys;
  std::vector<OldValue> values;
  if (LONG error = ReadKeys(connection, decoder, &keys)) return error;
  if (LONG error = ReadValues(connection, decoder, &values)) return error;
  // The highest key id ever given, which dropping the table forgets: ids
  // of deleted keys must not come back while stale handles may hold them.
  int64_t last_id = 0;
  if (LONG error = connection.QueryInt(
          "SELECT coalesce(max(seq), 0) FROM sqlite_sequence WHERE name = 'reg_key'", &last_id)) {
    return error;
  }
  if (LONG error = connection.Execute("DROP TABLE reg_value; DROP TABLE reg_key")) return error;
  if (LONG error = CreateTables(connection)) return error;
  if (LONG error = WriteKeys(connection, keys)) return error;
  if (LONG error = WriteValues(connection, values)) return error;
  {
    Statement sequence(connection,
                       "UPDATE sqlite_sequence SET seq = max(seq, ?1) WHERE name = 'reg_key'");
    if (sequence.status() != ERROR_SUCCESS) return sequence.status();
    sequence.Bind(1, last_id);
    const int result = sequence.Step();
    if (result != SQLITE_DONE) return sequence.Error(result);
  }
  if (LONG error = EnsureSoftwareKey(connection)) return error;
  return StampCurrentFormat(connection);
}

}  // namespace opossvc::detail
