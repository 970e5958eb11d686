#include "cli/Resources.h"

#include <string.h>

#include <algorithm>

#include "efs/PeImage.h"
#include "resources/resource.h"

namespace {

uint16_t U16(const std::string& s, size_t at) { return (uint16_t)((unsigned char)s[at] | (unsigned char)s[at + 1] << 8); }
uint32_t U32(const std::string& s, size_t at) { return (uint32_t)U16(s, at) | (uint32_t)U16(s, at + 2) << 16; }
void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = (char)(v & 0xFF);
  s[at + 1] = (char)(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, (uint16_t)v);
  Put16(s, at + 2, (uint16_t)(v >> 16));
}
void Add16(std::string& s, uint16_t v) { s.append({(char)(v & 0xFF), (char)(v >> 8)}); }
void Add32(std::string& s, uint32_t v) {
  Add16(s, (uint16_t)v);
  Add16(s, (uint16_t)(v >> 16));
}
void PadTo(std::string& s, size_t n) { s.append((n - s.size() % n) % n, '\0'); }
uint32_t AlignUp(uint32_t v, uint32_t a) { return a ? (v + a - 1) / a * a : v; }

std::u16string Utf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = (unsigned char)s[i];
    uint32_t cp;
    int n;
    if (c < 0x80) cp = c, n = 1;
    else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, n = 2;
    else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, n = 3;
    else cp = c & 0x07, n = 4;
    if (i + n > s.size()) n = (int)(s.size() - i);
    for (int k = 1; k < n; ++k) cp = cp << 6 | ((unsigned char)s[i + k] & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += (char16_t)(0xD800 + (cp >> 10));
      out += (char16_t)(0xDC00 + (cp & 0x3FF));
    } else {
      out += (char16_t)cp;
    }
  }
  return out;
}

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | cp >> 6);
      out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += (char)(0xE0 | cp >> 12);
      out += (char)(0x80 | (cp >> 6 & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xF0 | cp >> 18);
      out += (char)(0x80 | (cp >> 12 & 0x3F));
      out += (char)(0x80 | (cp >> 6 & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// ---- the resource directory ----

struct Section {
  uint32_t VirtualSize, Address, RawSize, RawOffset;
  std::string Name;
};

Section SectionAt(const std::string& image, const PeHeaders& h, int i) {
  const size_t at = h.SectionsOffset + 40 * (size_t)i;
  Section s;
  s.Name = std::string(image.data() + at, strnlen(image.data() + at, 8));
  s.VirtualSize = U32(image, at + 8);
  s.Address = U32(image, at + 12);
  s.RawSize = U32(image, at + 16);
  s.RawOffset = U32(image, at + 20);
  return s;
}

// Bounded walk of a resource directory held in section bytes at rva.
class DirectoryReader {
 public:
  DirectoryReader(const std::string& image, const PeHeaders& h, const std::string& section)
      : m_Image(image), m_Headers(h), m_Section(section) {}

  std::string Read(std::vector<Resource>* out) {
    Resource r;
    return Walk(0, 0, r, out);
  }

 private:
  std::string Walk(uint32_t at, int level, Resource& r, std::vector<Resource>* out) {
    if ((uint64_t)at + 16 > m_Section.size()) return "a resource directory lies outside its section";
    const uint32_t count = (uint32_t)U16(m_Section, at + 12) + U16(m_Section, at + 14);
    if ((uint64_t)at + 16 + 8ull * count > m_Section.size()) return "a resource directory lies outside its section";
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t entry = at + 16 + 8 * i;
      const uint32_t name = U32(m_Section, entry), target = U32(m_Section, entry + 4);
      ResourceId id;
      if (name & 0x80000000u) {
        const uint32_t s = name & 0x7FFFFFFF;
        if ((uint64_t)s + 2 > m_Section.size()) return "a resource name lies outside its section";
        const uint32_t length = U16(m_Section, s);
        if ((uint64_t)s + 2 + 2ull * length > m_Section.size()) return "a resource name lies outside its section";
        for (uint32_t k = 0; k < length; ++k) id.Name += (char16_t)U16(m_Section, s + 2 + 2 * k);
        if (id.Name.empty()) return "a resource has an empty name";
      } else {
        id.Number = (uint16_t)name;
      }
      const bool directory = (target & 0x80000000u) != 0;
      if (directory != (level < 2)) return "the resource directory is not three levels deep";
      if (level == 0) r.Type = id;
      else if (level == 1) r.Name = id;
      else r.Language = id.Number;
      if (directory) {
        if (++m_Tables > 100000) return "the resource directory has too many tables";
        std::string why = Walk(target & 0x7FFFFFFF, level + 1, r, out);
        if (!why.empty()) return why;
        continue;
      }
      if ((uint64_t)target + 16 > m_Section.size()) return "a resource's data entry lies outside its section";
      const uint32_t rva = U32(m_Section, target), size = U32(m_Section, target + 4);
      r.CodePage = U32(m_Section, target + 8);
      const uint32_t offset = size ? PeFileOffset((const unsigned char*)m_Image.data(), m_Image.size(), m_Headers, rva) : 0;
      if (size && (!offset || (uint64_t)offset + size > m_Image.size())) return "a resource's data lies outside the file";
      r.Data = size ? m_Image.substr(offset, size) : std::string();
      out->push_back(r);
    }
    return "";
  }

  const std::string& m_Image;
  const PeHeaders& m_Headers;
  const std::string& m_Section;
  int m_Tables = 0;
};

bool IdLess(const ResourceId& a, const ResourceId& b) {
  // names first, by their units; then numbers
  if (a.Name.empty() != b.Name.empty()) return !a.Name.empty();
  if (!a.Name.empty()) return a.Name < b.Name;
  return a.Number < b.Number;
}

// The section's bytes for resources at rva: the tables (types, names,
// languages), the data entries, the names, then the data, as resource
// compilers lay them out.
std::string BuildSection(std::vector<Resource> resources, uint32_t rva) {
  std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    if (!(a.Type == b.Type)) return IdLess(a.Type, b.Type);
    if (!(a.Name == b.Name)) return IdLess(a.Name, b.Name);
    return a.Language < b.Language;
  });
  // group indexes: types, then names within each type
  struct Node {
    ResourceId Id;
    std::vector<size_t> Children;  // nodes of the next level, or resources at the last
  };
  std::vector<Node> types, names;
  for (size_t i = 0; i < resources.size(); ++i) {
    const Resource& r = resources[i];
    if (types.empty() || !(types.back().Id == r.Type)) types.push_back({r.Type, {}});
    if (types.back().Children.empty() || !(names[types.back().Children.back()].Id == r.Name)) {
      names.push_back({r.Name, {}});
      types.back().Children.push_back(names.size() - 1);
    }
    names.back().Children.push_back(i);
  }
  auto tableSize = [](size_t entries) { return (uint32_t)(16 + 8 * entries); };
  uint32_t at = tableSize(types.size());
  std::vector<uint32_t> typeTable(types.size()), nameTable(names.size());
  for (size_t t = 0; t < types.size(); ++t) typeTable[t] = at, at += tableSize(types[t].Children.size());
  for (size_t n = 0; n < names.size(); ++n) nameTable[n] = at, at += tableSize(names[n].Children.size());
  const uint32_t entries = at;
  at += 16 * (uint32_t)resources.size();
  std::string strings;
  auto nameOffset = [&](const ResourceId& id) -> uint32_t {
    if (id.Name.empty()) return id.Number;
    const uint32_t offset = at + (uint32_t)strings.size();
    Add16(strings, (uint16_t)id.Name.size());
    for (char16_t c : id.Name) Add16(strings, (uint16_t)c);
    return 0x80000000u | offset;
  };
  std::string out;
  auto table = [&](const std::vector<ResourceId>& ids, const std::vector<uint32_t>& targets) {
    Add32(out, 0), Add32(out, 0), Add16(out, 0), Add16(out, 0);
    uint16_t named = 0;
    for (const ResourceId& id : ids) named += !id.Name.empty();
    Add16(out, named), Add16(out, (uint16_t)(ids.size() - named));
    for (size_t i = 0; i < ids.size(); ++i) Add32(out, nameOffset(ids[i])), Add32(out, targets[i]);
  };
  {
    std::vector<ResourceId> ids;
    std::vector<uint32_t> targets;
    for (size_t t = 0; t < types.size(); ++t) ids.push_back(types[t].Id), targets.push_back(0x80000000u | typeTable[t]);
    table(ids, targets);
  }
  for (const Node& t : types) {
    std::vector<ResourceId> ids;
    std::vector<uint32_t> targets;
    for (size_t n : t.Children) ids.push_back(names[n].Id), targets.push_back(0x80000000u | nameTable[n]);
    table(ids, targets);
  }
  for (const Node& n : names) {
    std::vector<ResourceId> ids;
    std::vector<uint32_t> targets;
    for (size_t i : n.Children) {
      ResourceId language;
      language.Number = resources[i].Language;
      ids.push_back(language);
      targets.push_back(entries + 16 * (uint32_t)i);
    }
    table(ids, targets);
  }
  // the data behind the names, each on an 8-byte boundary
  uint32_t data = AlignUp(at + (uint32_t)strings.size(), 8);
  for (const Resource& r : resources) {
    Add32(out, rva + data), Add32(out, (uint32_t)r.Data.size()), Add32(out, r.CodePage), Add32(out, 0);
    data = AlignUp(data + (uint32_t)r.Data.size(), 8);
  }
  out += strings;
  for (const Resource& r : resources) {
    PadTo(out, 8);
    out += r.Data;
  }
  return out;
}

// ---- version resources: nodes of a length, a type, a key and a value ----

struct VersionNode {
  std::u16string Key;
  uint16_t Type = 0;  // 1: the value is text
  std::string Value;  // the bytes as stored (text: UTF-16 with its end)
  std::vector<VersionNode> Children;
};

bool ReadVersionNode(const std::string& s, size_t at, size_t end, int depth, VersionNode* node, size_t* next) {
  if (depth > 4 || at + 6 > end) return false;
  const size_t length = U16(s, at), valueLength = U16(s, at + 2);
  node->Type = U16(s, at + 4);
  if (length < 6 || at + length > end) return false;
  const size_t stop = at + length;
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > stop) return false;
    const uint16_t c = U16(s, p);
    if (!c) break;
    node->Key += (char16_t)c;
  }
  p = AlignUp((uint32_t)(p + 2 - at), 4) + at;
  // text lengths count characters, though some tools wrote bytes: the
  // value is what fits up to its end
  size_t bytes = node->Type == 1 ? valueLength * 2 : valueLength;
  if (p > stop) p = stop;
  if (bytes > stop - p) bytes = stop - p;
  if (node->Type == 1 && bytes) {
    size_t n = 0;
    while (n + 2 <= bytes && U16(s, p + n)) n += 2;
    node->Value = s.substr(p, n) + std::string(2, '\0');
  } else {
    node->Value = s.substr(p, bytes);
  }
  p += bytes;
  p = std::min(stop, (size_t)AlignUp((uint32_t)(p - at), 4) + at);
  while (p + 6 <= stop) {
    VersionNode child;
    size_t after;
    if (!ReadVersionNode(s, p, stop, depth + 1, &child, &after)) return false;
    node->Children.push_back(child);
    p = std::min(stop, (size_t)AlignUp((uint32_t)(after - at), 4) + at);
  }
  *next = stop;
  return true;
}

std::string WriteVersionNode(const VersionNode& node) {
  std::string out(6, '\0');
  for (char16_t c : node.Key) Add16(out, (uint16_t)c);
  Add16(out, 0);
  PadTo(out, 4);
  out += node.Value;
  for (const VersionNode& child : node.Children) {
    PadTo(out, 4);
    out += WriteVersionNode(child);
  }
  Put16(out, 0, (uint16_t)out.size());
  Put16(out, 2, (uint16_t)(node.Type == 1 ? node.Value.size() / 2 : node.Value.size()));
  Put16(out, 4, node.Type);
  return out;
}

std::string TextValue(const std::string& text) {
  std::string out;
  for (char16_t c : Utf16(text)) Add16(out, (uint16_t)c);
  Add16(out, 0);
  return out;
}

std::string TextOf(const std::string& value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < value.size(); i += 2) {
    const uint16_t c = U16(value, i);
    if (!c) break;
    text += (char16_t)c;
  }
  return Utf8(text);
}

enum { FIXED_SIGNATURE = 0xFEEF04BD, FIXED_SIZE = 52 };

VersionNode* Child(VersionNode& node, const char* key) {
  for (VersionNode& c : node.Children)
    if (c.Key == Utf16(key)) return &c;
  return nullptr;
}

// A version resource of US English strings, for a program that had none.
VersionNode NewVersionNode() {
  VersionNode root;
  root.Key = Utf16("VS_VERSION_INFO");
  root.Value.assign(FIXED_SIZE, '\0');
  Put32(root.Value, 0, FIXED_SIGNATURE);
  Put32(root.Value, 4, 0x10000);
  Put32(root.Value, 32, 0x40004);  // VOS_NT_WINDOWS32
  Put32(root.Value, 36, 1);        // VFT_APP
  VersionNode strings, table, vars, translation;
  strings.Key = Utf16("StringFileInfo"), strings.Type = 1;
  table.Key = Utf16("040904b0"), table.Type = 1;
  vars.Key = Utf16("VarFileInfo"), vars.Type = 1;
  translation.Key = Utf16("Translation");
  Add16(translation.Value, 0x409), Add16(translation.Value, 1200);
  strings.Children.push_back(table);
  vars.Children.push_back(translation);
  root.Children.push_back(strings);
  root.Children.push_back(vars);
  return root;
}

void SetString(VersionNode& table, const char* key, const std::string& value, size_t position) {
  for (VersionNode& c : table.Children)
    if (c.Key == Utf16(key)) {
      c.Value = TextValue(value);
      return;
    }
  VersionNode node;
  node.Key = Utf16(key);
  node.Type = 1;
  node.Value = TextValue(value);
  table.Children.insert(table.Children.begin() + std::min(position, table.Children.size()), node);
}

// ---- icons ----

const char kPngSignature[] = "\x89PNG\r\n\x1a\n";

// The entry of the image nearest to the small icon's 16 by 16: the
// smallest not below it, the deepest colour at that size.
size_t SmallImage(const std::vector<IconImage>& images) {
  size_t best = 0;
  auto side = [](uint8_t v) { return v ? (int)v : 256; };
  auto rank = [&](const IconImage& i) {
    const int s = side(i.Width);
    return s >= 16 ? s - 16 : 1000 + (16 - s);
  };
  for (size_t i = 1; i < images.size(); ++i) {
    const int a = rank(images[i]), b = rank(images[best]);
    if (a < b || (a == b && images[i].BitCount > images[best].BitCount)) best = i;
  }
  return best;
}

std::string GroupOf(const std::vector<IconImage>& images, const std::vector<size_t>& which,
                    const std::vector<uint16_t>& ids) {
  std::string out;
  Add16(out, 0), Add16(out, 1), Add16(out, (uint16_t)which.size());
  for (size_t i : which) {
    const IconImage& image = images[i];
    out += (char)image.Width, out += (char)image.Height, out += (char)image.Colors, out += '\0';
    Add16(out, image.Planes), Add16(out, image.BitCount);
    Add32(out, (uint32_t)image.Data.size());
    Add16(out, ids[i]);
  }
  return out;
}

}  // namespace

std::string ReadResources(const std::string& image, std::vector<Resource>* out) {
  out->clear();
  PeHeaders h;
  if (!ReadPeHeaders((const unsigned char*)image.data(), image.size(), &h)) return "it is not a Windows program";
  if (h.DirectoryCount <= PE_DIRECTORY_RESOURCE || !h.Directories[PE_DIRECTORY_RESOURCE].Address)
    return "it has no resources";
  const PeDirectory& d = h.Directories[PE_DIRECTORY_RESOURCE];
  const uint32_t offset = PeFileOffset((const unsigned char*)image.data(), image.size(), h, d.Address);
  if (!offset || (uint64_t)offset + d.Size > image.size()) return "its resource directory lies outside the file";
  const std::string section = image.substr(offset, d.Size);
  DirectoryReader reader(image, h, section);
  return reader.Read(out);
}

std::string ReplaceResources(std::string* image, const std::vector<Resource>& resources) {
  std::string& img = *image;
  PeHeaders h;
  if (!ReadPeHeaders((const unsigned char*)img.data(), img.size(), &h)) return "it is not a Windows program";
  if (h.DirectoryCount <= PE_DIRECTORY_RESOURCE || !h.Directories[PE_DIRECTORY_RESOURCE].Address)
    return "it has no resource section";
  if (h.SymbolTableOffset) return "it is not stripped (its symbols lie behind its sections)";
  if (h.DirectoryCount > PE_DIRECTORY_SECURITY && h.Directories[PE_DIRECTORY_SECURITY].Size)
    return "it is signed";
  const uint32_t fileAlign = U32(img, h.OptionalOffset + 36), sectionAlign = U32(img, h.OptionalOffset + 32);
  if (!fileAlign || !sectionAlign) return "its headers name no alignment";
  const uint32_t rva = h.Directories[PE_DIRECTORY_RESOURCE].Address;
  int r = -1;
  for (int i = 0; i < h.SectionCount; ++i)
    if (SectionAt(img, h, i).Address == rva) r = i;
  if (r < 0) return "its resources do not start a section";
  const Section rsrc = SectionAt(img, h, r);
  // what follows must be able to move: relocations only, in file order
  for (int i = r + 1; i < h.SectionCount; ++i) {
    const Section s = SectionAt(img, h, i);
    if (s.Name != ".reloc" || s.Address < rsrc.Address || (s.RawSize && s.RawOffset < rsrc.RawOffset + rsrc.RawSize))
      return "its section " + s.Name + " lies behind its resources";
  }
  for (int i = 0; i < r; ++i)
    if (SectionAt(img, h, i).Address > rsrc.Address) return "its resources are not its last section";
  if (PeSectionsEnd((const unsigned char*)img.data(), img.size(), h) != img.size())
    return "it has bytes behind its sections";

  std::string section = BuildSection(resources, rva);
  const uint32_t rawSize = AlignUp((uint32_t)section.size(), fileAlign);
  std::string out = img.substr(0, rsrc.RawOffset);
  out += section;
  out.append(rawSize - section.size(), '\0');
  Put32(out, h.SectionsOffset + 40 * r + 8, (uint32_t)section.size());
  Put32(out, h.SectionsOffset + 40 * r + 16, rawSize);
  Put32(out, h.DirectoriesOffset + 8 * PE_DIRECTORY_RESOURCE + 4, (uint32_t)section.size());
  uint32_t nextAddress = AlignUp(rva + (uint32_t)section.size(), sectionAlign);
  for (int i = r + 1; i < h.SectionCount; ++i) {
    const Section s = SectionAt(img, h, i);
    const size_t header = h.SectionsOffset + 40 * (size_t)i;
    // the directories that point into it move with it
    for (uint32_t d = 0; d < h.DirectoryCount; ++d) {
      const uint32_t a = h.Directories[d].Address;
      if (d != PE_DIRECTORY_SECURITY && a >= s.Address && a < s.Address + std::max(s.VirtualSize, s.RawSize))
        Put32(out, h.DirectoriesOffset + 8 * d, a - s.Address + nextAddress);
    }
    Put32(out, header + 12, nextAddress);
    if (s.RawSize) {
      Put32(out, header + 20, (uint32_t)out.size());
      out += img.substr(s.RawOffset, s.RawSize);
    }
    nextAddress = AlignUp(nextAddress + std::max(s.VirtualSize, s.RawSize), sectionAlign);
  }
  Put32(out, h.OptionalOffset + 56, nextAddress);  // SizeOfImage
  const uint32_t initialized = U32(out, h.OptionalOffset + 8);
  Put32(out, h.OptionalOffset + 8, initialized - rsrc.RawSize + rawSize);
  if (U32(img, h.OptionalOffset + 64))
    Put32(out, h.OptionalOffset + 64, PeChecksum((const unsigned char*)out.data(), out.size(), h.OptionalOffset + 64));
  img.swap(out);
  return "";
}

std::string ReadIconFile(const std::string& bytes, std::vector<IconImage>* images) {
  images->clear();
  if (bytes.empty()) return "the file is empty";
  if (bytes.size() < 6 || U16(bytes, 0) != 0 || (U16(bytes, 2) != 1 && U16(bytes, 2) != 2))
    return "it is not an icon file (.ico)";
  if (U16(bytes, 2) == 2) return "it is a cursor, not an icon";
  const uint16_t count = U16(bytes, 4);
  if (!count) return "it holds no image";
  if (6 + 16 * (size_t)count > bytes.size()) return "it is cut short: its list of images ends early";
  for (uint16_t i = 0; i < count; ++i) {
    const size_t e = 6 + 16 * (size_t)i;
    IconImage image;
    image.Width = (uint8_t)bytes[e], image.Height = (uint8_t)bytes[e + 1], image.Colors = (uint8_t)bytes[e + 2];
    image.Planes = U16(bytes, e + 4), image.BitCount = U16(bytes, e + 6);
    const uint32_t size = U32(bytes, e + 8), offset = U32(bytes, e + 12);
    const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
    if (!size) return which + " is empty";
    if ((uint64_t)offset + size > bytes.size()) return which + " lies beyond the end of the file (cut short?)";
    if (offset < 6 + 16 * (size_t)count) return which + " overlaps the list of images";
    image.Data = bytes.substr(offset, size);
    if (image.Data.compare(0, 8, kPngSignature, 8) == 0) {
      if (size < 33) return which + " is a PNG image cut short";
      // the entry's own figures, when a tool left them out
      if (!image.Planes) image.Planes = 1;
      if (!image.BitCount) image.BitCount = 32;
    } else {
      const uint32_t header = size >= 40 ? U32(image.Data, 0) : 0;
      if (header != 40 && header != 108 && header != 124) return which + " is neither a bitmap nor a PNG image";
      if (header > size) return which + " is a bitmap cut short";
      if (!image.Planes) image.Planes = U16(image.Data, 12);
      if (!image.BitCount) image.BitCount = U16(image.Data, 14);
    }
    images->push_back(image);
  }
  return "";
}

std::string VersionStrings::Get(const std::string& key) const {
  for (const auto& v : Values)
    if (v.first == key) return v.second;
  return "";
}

std::string ReadVersionStrings(const std::string& data, VersionStrings* out) {
  *out = VersionStrings();
  VersionNode root;
  size_t next;
  if (!ReadVersionNode(data, 0, data.size(), 0, &root, &next) || root.Key != Utf16("VS_VERSION_INFO"))
    return "it is no version resource";
  if (root.Value.size() >= FIXED_SIZE && U32(root.Value, 0) == FIXED_SIGNATURE)
    for (int k = 0; k < 4; ++k) {
      out->FileVersion[k] = (uint16_t)(U32(root.Value, k < 2 ? 8 : 12) >> (k % 2 ? 0 : 16));
      out->ProductVersion[k] = (uint16_t)(U32(root.Value, k < 2 ? 16 : 20) >> (k % 2 ? 0 : 16));
    }
  VersionNode* strings = Child(root, "StringFileInfo");
  if (strings && !strings->Children.empty())
    for (const VersionNode& v : strings->Children[0].Children) out->Values.push_back({Utf8(v.Key), TextOf(v.Value)});
  return "";
}

bool ParseFileVersion(const std::string& version, uint16_t out[4]) {
  bool fits = true;
  size_t p = 0;
  for (int k = 0; k < 4; ++k) {
    uint32_t n = 0;
    while (p < version.size() && version[p] >= '0' && version[p] <= '9') {
      n = std::min<uint32_t>(n * 10 + (uint32_t)(version[p++] - '0'), 100000);
    }
    if (n > 65535) fits = false, n = 65535;
    out[k] = (uint16_t)n;
    while (p < version.size() && version[p] != '.') ++p;  // "3-beta" counts as 3
    if (p < version.size()) ++p;
  }
  return fits;
}

std::string BrandProgram(std::string* image, const SetupIdentity& identity) {
  std::vector<Resource> resources;
  std::string why = ReadResources(*image, &resources);
  if (!why.empty()) return why;
  uint16_t language = 0x409;
  if (!identity.Icon.empty()) {
    for (const Resource& r : resources)
      if (r.Type.Number == RESOURCE_GROUP_ICON && r.Name.Number == IDI_QUILLSET) language = r.Language;
    // the program's images all go: the new groups name only the new ones
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const Resource& r) {
                                     return r.Type.Name.empty() && (r.Type.Number == RESOURCE_ICON ||
                                                                    r.Type.Number == RESOURCE_GROUP_ICON);
                                   }),
                    resources.end());
    std::vector<uint16_t> ids;
    std::vector<size_t> all;
    for (size_t i = 0; i < identity.Icon.size(); ++i) {
      ids.push_back((uint16_t)(i + 1));
      all.push_back(i);
      Resource r;
      r.Type.Number = RESOURCE_ICON, r.Name.Number = ids.back(), r.Language = language;
      r.Data = identity.Icon[i].Data;
      resources.push_back(r);
    }
    Resource group;
    group.Type.Number = RESOURCE_GROUP_ICON, group.Language = language;
    group.Name.Number = IDI_QUILLSET, group.Data = GroupOf(identity.Icon, all, ids);
    resources.push_back(group);
    group.Name.Number = IDI_QUILLSET_SMALL, group.Data = GroupOf(identity.Icon, {SmallImage(identity.Icon)}, ids);
    resources.push_back(group);
  }

  Resource* version = nullptr;
  for (Resource& r : resources)
    if (r.Type.Name.empty() && r.Type.Number == RESOURCE_VERSION) version = &r;
  VersionNode root;
  size_t next;
  if (!version) {
    Resource r;
    r.Type.Number = RESOURCE_VERSION, r.Name.Number = 1, r.Language = language;
    resources.push_back(r);
    version = &resources.back();
    root = NewVersionNode();
  } else if (!ReadVersionNode(version->Data, 0, version->Data.size(), 0, &root, &next) ||
             root.Value.size() < FIXED_SIZE || U32(root.Value, 0) != FIXED_SIGNATURE) {
    return "its version resource cannot be read";
  }
  VersionNode* strings = Child(root, "StringFileInfo");
  if (!strings) {
    root = NewVersionNode();
    strings = Child(root, "StringFileInfo");
  }
  if (strings->Children.empty()) strings->Children = NewVersionNode().Children[0].Children;
  for (VersionNode& table : strings->Children) {
    if (!identity.Publisher.empty()) SetString(table, "CompanyName", identity.Publisher, 0);
    SetString(table, "FileDescription", "Setup", 1);
    if (!identity.Version.empty()) SetString(table, "FileVersion", identity.Version, 2);
    SetString(table, "ProductName", identity.ProductName, table.Children.size());
    if (!identity.Version.empty()) SetString(table, "ProductVersion", identity.Version, table.Children.size());
  }
  if (!identity.Version.empty()) {
    uint16_t v[4];
    ParseFileVersion(identity.Version, v);
    for (size_t at : {8, 16}) Put32(root.Value, at, (uint32_t)v[0] << 16 | v[1]), Put32(root.Value, at + 4, (uint32_t)v[2] << 16 | v[3]);
  }
  version->Data = WriteVersionNode(root);
  return ReplaceResources(image, resources);
}
