"""Writes Secondary Capture objects in Explicit VR Little Endian with 16-bit pixel data that does
not compress, for the bench scripts.

Usage: native_objects.py FOLDER COUNT ROWS COLUMNS
Writes FOLDER/0000.dcm ... (COUNT files of ROWS x COLUMNS pixels, each with its own pixels).
"""
import os
import sys

import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid


def write(path, rows, columns, seed):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.7"
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName = "BENCH^STORE"
    ds.PatientID = "BENCH"
    ds.StudyInstanceUID = "1.2.826.0.1.3680043.10.777"
    ds.SeriesInstanceUID = "1.2.826.0.1.3680043.10.777.1"
    ds.Modality = "OT"
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.Rows, ds.Columns = rows, columns
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 12, 11, 0
    pixels = (np.arange(rows * columns, dtype=np.uint32) * 2654435761 + seed) % 4096
    ds.PixelData = pixels.astype("<u2").tobytes()
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.save_as(path, write_like_original=False)


def main():
    folder, count, rows, columns = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        write(os.path.join(folder, f"{i:04d}.dcm"), rows, columns, i)


main()
