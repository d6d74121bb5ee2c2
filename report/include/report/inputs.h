// The images a run is given: folders expanded into their image files.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace report {

// InputError: a folder given as input cannot be read or holds no image. what() names the folder
// and the reason; its wording is not promised.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// expandInputs(inputs, recursive): inputs with each folder replaced by its image files (.png, .pgm,
// .tif, .tiff, .jpg, .jpeg, .bmp; the extension in any case), sorted by path; recursive also takes those of its subfolders (links
// to folders are not followed). Other inputs stay as they are, in their place. Throws InputError
// when a folder cannot be read or holds no such file.
std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, bool recursive);

}  // namespace report
