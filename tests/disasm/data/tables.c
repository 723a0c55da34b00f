// A DLL (so it has relocations) with data inside its code section, as some
// compilers place it: one long jump table, one short table reached through a
// byte index table, and a string. The listing must keep all of it out of the code,
// and no more. The last function's first bytes read like a short string (VWSh).
__asm__(".text\n"
    ".globl _Dispatch\n_Dispatch: movl 4(%esp), %eax; cmpl $3, %eax; ja 9f; jmp *1f(,%eax,4)\n"
    "    .p2align 2\n1: .long 10f, 11f, 12f, 13f\n"
    "10: movl $1, %eax; ret\n11: movl $2, %eax; ret\n12: movl $3, %eax; ret\n13: movl $4, %eax; ret\n"
    "9: xorl %eax, %eax; ret\n"
    ".globl _Select\n_Select: movl 4(%esp), %eax; andl $3, %eax; movzbl 3f(%eax), %eax; jmp *2f(,%eax,4)\n"
    "    .p2align 2\n2: .long 20f, 21f\n3: .byte 0, 1, 1, 0\n"
    "20: movl $5, %eax; ret\n21: movl $6, %eax; ret\n"
    ".globl _Greeting\n_Greeting: movl $4f, %eax; ret\n4: .asciz \"Text kept in the code\"\n"
    "    movl $7, %eax; ret\n"
    ".globl _Plain\n_Plain: movl $5f, %eax; ret\n"
    "5: pushl %esi; pushl %edi; pushl %ebx; pushl $0x1000; popl %eax; popl %ebx; popl %edi; popl %esi; ret\n"
    // The longest code field, and a branch whose prefix must not come first.
    ".globl _Long\n_Long: lock addl $0x12345678, %fs:0x500000(,%eax,4); bnd jmp *%eax\n");

int Dispatch(int), Select(int), Plain(void);
const char* Greeting(void);
__declspec(dllexport) int __stdcall Both(int i) { return Dispatch(i) + Select(i) + Greeting()[0] + (Plain() != 0); }
int __stdcall DllMainCRTStartup(void* module, unsigned reason, void* reserved) { (void)module, (void)reason, (void)reserved; return 1; }
