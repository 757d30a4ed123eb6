// Prints every P/Invoke declaration of an assembly as reflection reads it from the built
// file (not from the source that generated it): one tab-separated line per declaration
// with the declaring type, the method, the entry point, the calling convention, the
// library, the bytes its arguments take on a 32-bit stack, and its parameter types.
//   mono DeclaredImports.exe ASSEMBLY
using System;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;

static class DeclaredImports
{
    // Every argument of a 32-bit stdcall takes a multiple of 4 bytes; 64-bit integers and
    // doubles take 8, pointers, references, arrays, strings and delegates 4.
    static int StackBytes32(Type type)
    {
        if (type.IsByRef || type.IsPointer || type.IsArray || !type.IsValueType)
            return 4;
        if (type.IsEnum)
            type = Enum.GetUnderlyingType(type);
        if (type == typeof(long) || type == typeof(ulong) || type == typeof(double))
            return 8;
        if (type == typeof(IntPtr) || type == typeof(UIntPtr) || type.IsPrimitive)
            return 4;
        return (Marshal.SizeOf(type) + 3) / 4 * 4;
    }

    static int Main(string[] args)
    {
        if (args.Length != 1)
        {
            Console.Error.WriteLine("usage: DeclaredImports.exe ASSEMBLY");
            return 2;
        }
        Type[] types;
        try
        {
            types = Assembly.LoadFrom(args[0]).GetTypes();
        }
        catch (ReflectionTypeLoadException e)
        {
            foreach (var problem in e.LoaderExceptions)
                Console.Error.WriteLine(problem.Message);
            return 1;
        }
        const BindingFlags declared = BindingFlags.Public | BindingFlags.NonPublic | BindingFlags.Static |
                                      BindingFlags.Instance | BindingFlags.DeclaredOnly;
        foreach (var type in types.OrderBy(t => t.FullName, StringComparer.Ordinal))
        {
            foreach (var method in type.GetMethods(declared))
            {
                if ((method.Attributes & MethodAttributes.PinvokeImpl) == 0)
                    continue;
                var import = method.GetCustomAttributes(typeof(DllImportAttribute), false)
                                   .Cast<DllImportAttribute>().SingleOrDefault();
                if (import == null)
                {
                    Console.Error.WriteLine("{0}.{1}: a P/Invoke method without its DllImport", type.FullName, method.Name);
                    return 1;
                }
                var parameters = method.GetParameters();
                Console.WriteLine(string.Join("\t", type.FullName, method.Name, import.EntryPoint ?? method.Name,
                                              import.CallingConvention, import.Value,
                                              parameters.Sum(p => StackBytes32(p.ParameterType)),
                                              string.Join(",", parameters.Select(p => p.ParameterType.FullName))));
            }
        }
        return 0;
    }
}
