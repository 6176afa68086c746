# Writes the SHA-256 of each file in `sha256sum`'s format ("<hex>  <name>",
# LF line ends), so `sha256sum -c SHA256SUMS` checks the files beside it.
# Run as: cmake -DFILES=<file>|<file>... -DOUTPUT=<file> -P WriteChecksums.cmake
string(REPLACE "|" ";" files "${FILES}")
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${file} hash)
  get_filename_component(name ${file} NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${OUTPUT} "${sums}")
