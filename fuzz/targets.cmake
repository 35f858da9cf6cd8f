# The fuzz targets (fuzz/<name>.cpp); the fuzz build and the seed replay in the tests share the list.
set(VG_FUZZ_TARGETS
  # HTTP messages, host entries and the relay
  httpdata http_entry relay
  # the protected format and its encodings
  secure_answer stf1 binary_text
  # compression
  lzh_decode kh_decode compress_roundtrip
  # settings and INI files, the setup dialogs' typed values, display names from the environment
  ini_reader settings_load setup_controls display_name
  # the reference gateway and the OpenSSL engine's results
  gateway_request engmod10_results)
