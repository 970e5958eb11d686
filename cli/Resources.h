// The vendor's identity on the setup program: its icon and version resource
// rewritten at build time. The resource section is read and written here,
// without the system's resource updating, so that the command does the same
// on Linux and on Windows.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// A resource type or name: a number, or a name when Name is not empty.
struct ResourceId {
  uint16_t Number = 0;
  std::u16string Name;
  bool operator==(const ResourceId& o) const { return Number == o.Number && Name == o.Name; }
};

struct Resource {
  ResourceId Type;
  ResourceId Name;
  uint16_t Language = 0;
  uint32_t CodePage = 0;
  std::string Data;
};

enum { RESOURCE_ICON = 3, RESOURCE_GROUP_ICON = 14, RESOURCE_VERSION = 16 };

// The resources of a program image. "" when read, else what is wrong.
std::string ReadResources(const std::string& image, std::vector<Resource>* out);

// image with its resource section rebuilt from resources: the section keeps
// its place; a .reloc behind it moves along (nothing points into it but its
// directory entry). "" when done, else why it cannot be (image unchanged).
std::string ReplaceResources(std::string* image, const std::vector<Resource>& resources);

// One image of an .ico file.
struct IconImage {
  uint8_t Width, Height, Colors;  // 0 stands for 256 (colours: none or more than 255)
  uint16_t Planes, BitCount;
  std::string Data;  // a bitmap (header, colours, masks) or a PNG file
};

// The images of an .ico file; "" or why it is no usable icon.
std::string ReadIconFile(const std::string& bytes, std::vector<IconImage>* images);

// The strings of a version resource, in the order they stand, and its
// numeric versions (major, minor, build, revision).
struct VersionStrings {
  std::vector<std::pair<std::string, std::string>> Values;  // UTF-8
  uint16_t FileVersion[4] = {0, 0, 0, 0};
  uint16_t ProductVersion[4] = {0, 0, 0, 0};
  // "" when such a value is not there
  std::string Get(const std::string& key) const;
};

// The version resource's strings (the first string table's); "" or why not.
std::string ReadVersionStrings(const std::string& data, VersionStrings* out);

// What the script says of the vendor.
struct SetupIdentity {
  std::string ProductName;
  std::string Publisher;  // "" when not given
  std::string Version;    // "" when not given
  std::vector<IconImage> Icon;  // empty when not given
};

// "1.2.3-beta" as four numbers: each part by the number it starts with,
// missing ones 0. False when a part is over 65535 (it is then 65535).
bool ParseFileVersion(const std::string& version, uint16_t out[4]);

// The setup program's image with the identity's icon and version resource;
// "" when done, else why not.
std::string BrandProgram(std::string* image, const SetupIdentity& identity);
