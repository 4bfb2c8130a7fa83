#include "transfer/firmware.h"

#include <fstream>
#include <iterator>

#include "config/record.h"

namespace vyo {

// Defined in the source file generated from firmware_image.bin.
extern const uint8_t kFirmwareImageData[];
extern const size_t kFirmwareImageSize;

FirmwareImage MakeFirmwareImage(Bytes data, std::string name) {
  FirmwareImage img;
  img.trailer = XorSumTrailer(data.data(), data.size());
  img.data = std::move(data);
  img.name = std::move(name);
  return img;
}

const FirmwareImage& BuiltinFirmware() {
  static const FirmwareImage image = MakeFirmwareImage(
      Bytes(kFirmwareImageData, kFirmwareImageData + kFirmwareImageSize), "embutido");
  return image;
}

std::optional<FirmwareImage> LoadFirmwareImage(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "Não foi possível abrir o arquivo de firmware: " + path;
    return std::nullopt;
  }
  Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    if (error) *error = "Erro ao ler o arquivo de firmware: " + path;
    return std::nullopt;
  }
  if (data.empty()) {
    if (error) *error = "O arquivo de firmware está vazio: " + path;
    return std::nullopt;
  }
  if (data.size() > kMaxUploadBytes) {
    if (error)
      *error = "O arquivo de firmware é grande demais (" + std::to_string(data.size()) +
               " bytes; o máximo é " + std::to_string(kMaxUploadBytes) + "): " + path;
    return std::nullopt;
  }
  return MakeFirmwareImage(std::move(data), path);
}

}  // namespace vyo
