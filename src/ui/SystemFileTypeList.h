#pragma once
// The file types the desktop knows: every registered file-name extension, grouped by the desktop's
// name for its type. Filled once at start-up; the search dialogs offer the type names and look up
// their extensions. Two entries come first whatever the names: ".00(All Files)" and ".01<name of
// any file>", both for "*".

#include <map>
#include <string>

class CSystemFileTypeList {
 public:
  // Type name -> its extensions, each with its dot, joined by ";" in the order found.
  using TypeMap = std::map<std::string, std::string>;

  // Adds the desktop's types to what the list holds.
  void LoadFromRegistry();
  // Adds `extension` to type `name`.
  void AddType(const std::string& name, const std::string& extension);
  // The desktop's name of the type of files ending in `extension` (".txt"), its first letter raised
  // to upper case when it is a-z; empty when the desktop has none.
  static std::string GetTypeName(const std::string& extension);

  const TypeMap& Types() const { return m_types; }
  // The extensions of type `name`, or an empty text.
  std::string ExtensionsOf(const std::string& name) const;
  void Clear() { m_types.clear(); }

 private:
  TypeMap m_types;
};

CSystemFileTypeList& GetSystemFileTypeList();
