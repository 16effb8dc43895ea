// P/Invoke declarations of the plenvo library, for any .NET host (.NET 5+,
// .NET Framework 4.7+, Mono). "plenvo" resolves to plenvo.dll on Windows and
// to libplenvo.so on Linux.
//
// Paths are marshalled as UTF-8: the library opens a UTF-8 path that is not
// plain ASCII with the wide-character file API on Windows, so any file name
// works whatever the system's ANSI code page. The two text results are the
// library's own static buffers: they are copied, never freed.
using System;
using System.Runtime.InteropServices;
using System.Text;

public static class Plenvo
{
    const string Library = "plenvo";

    // Paper sizes of ToSize (the library's target_size).
    public const int A4 = 0, Letter = 1, A3 = 2, A5 = 3, Legal = 4;

    [DllImport(Library, CallingConvention = CallingConvention.Cdecl, EntryPoint = "plenvo_init")]
    public static extern int Init();

    [DllImport(Library, CallingConvention = CallingConvention.Cdecl, EntryPoint = "plenvo_cleanup")]
    public static extern void Cleanup();

    // Each scaling call returns 1 on success and 0 on failure (then see LastError).
    [DllImport(Library, CallingConvention = CallingConvention.Cdecl, EntryPoint = "plenvo_to_size")]
    public static extern int ToSize([MarshalAs(UnmanagedType.LPUTF8Str)] string inputPath,
                                    [MarshalAs(UnmanagedType.LPUTF8Str)] string outputPath,
                                    int targetSize);

    // percent, widthPt and heightPt are 32-bit floats in the C interface:
    // declared double they would reach the library as other numbers.
    [DllImport(Library, CallingConvention = CallingConvention.Cdecl, EntryPoint = "plenvo_percent")]
    public static extern int Percent([MarshalAs(UnmanagedType.LPUTF8Str)] string inputPath,
                                     [MarshalAs(UnmanagedType.LPUTF8Str)] string outputPath,
                                     float percent);

    [DllImport(Library, CallingConvention = CallingConvention.Cdecl, EntryPoint = "plenvo_custom")]
    public static extern int Custom([MarshalAs(UnmanagedType.LPUTF8Str)] string inputPath,
                                    [MarshalAs(UnmanagedType.LPUTF8Str)] string outputPath,
                                    float widthPt, float heightPt);

    // The results are declared IntPtr: as string, the marshaller would free
    // the library's static buffer after copying it.
    [DllImport(Library, CallingConvention = CallingConvention.Cdecl, EntryPoint = "plenvo_last_error")]
    static extern IntPtr LastErrorPtr();

    [DllImport(Library, CallingConvention = CallingConvention.Cdecl, EntryPoint = "plenvo_page_size")]
    static extern IntPtr PageSizePtr([MarshalAs(UnmanagedType.LPUTF8Str)] string inputPath, int page);

    // The message of the last failed call (UTF-8 text, copied).
    public static string LastError()
    {
        return Utf8At(LastErrorPtr()) ?? "";
    }

    // One page's displayed size as JSON, e.g.
    // {"width_pt":612,"height_pt":792,"page":1,"size":"Letter"};
    // null on failure (then see LastError).
    public static string PageSize(string inputPath, int page)
    {
        return Utf8At(PageSizePtr(inputPath, page));
    }

    // A copy of the NUL-terminated UTF-8 text at p, or null for a null pointer
    // (Marshal.PtrToStringUTF8 is missing on .NET Framework).
    static string Utf8At(IntPtr p)
    {
        if (p == IntPtr.Zero)
            return null;
        int n = 0;
        while (Marshal.ReadByte(p, n) != 0)
            n++;
        byte[] bytes = new byte[n];
        Marshal.Copy(p, bytes, 0, n);
        return Encoding.UTF8.GetString(bytes);
    }
}
