# The fuzz targets: each fuzz/<name>.cpp with its corpus in fuzz/corpus/<name>
# and the inputs of past findings in fuzz/regressions/<name>.
set(FUZZ_TARGETS archive decompress control_file placeholders patch certificate_table journal)
