/* Helpers shared by the examples: argument parsing, connecting with an explanation
 * of a failed connect, and printing the decode results of the last operation. */
#ifndef EXAMPLES_COMMON_H
#define EXAMPLES_COMMON_H

/* Reads a whole decimal number between min and max from text into *value; 0 when
 * text is not such a number. */
int parse_number(const char* text, long min, long max, long* value);

/* Connects to the imager on port (0 USB, 100 USB 2, 1..99 a COM port or what the
 * port map makes of it) and prints the outcome; 1 when connected. */
int connect_imager(int port, int channel_timeout_ms);

/* Prints every barcode of the last decode results: symbology, data, corners. */
void print_barcodes(void);

#endif
