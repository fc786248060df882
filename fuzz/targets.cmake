# The libFuzzer targets, one source each in fuzz/ and a corpus each in fuzz/corpus: the fuzz build
# makes them fuzzers, the ordinary tests replay their corpora.
set(TK7V_FUZZ_TARGETS reply_receiver image_roundtrip integer_text config_file values_table config_json ledger)
